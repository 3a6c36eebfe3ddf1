// What the batch mode says on standard error: numbered messages, the
// particulars of a refused record, the progress line, the closing summary and
// the usage hints.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivf::wfdx {

// Message numbers of the batch mode (texts in the catalogue).
enum BatchMsg : std::int32_t {
    kMsgColumns = 2030,   // fewer columns than the layout needs
    kMsgColumn = 2031,    // a column is not a number or is out of range
    kMsgRate = 2032,      // rate not a finite number above 0
    kMsgDatatype = 2033,  // datatype code not known
    kMsgDate = 2034,      // css2.8 date column disagrees with the start time
    kMsgOpen = 2035,      // sample file cannot be opened or is not a regular file
    kMsgShort = 2036,     // sample file too short
    kMsgRead = 2037,      // samples cannot be read
    kMsgName = 2038,      // station or channel unfit for a file name
    kMsgRepeat = 2039,    // output name already written in this run
    kMsgWrite = 2040,     // the KIV file was not written
    kMsgWfdisc = 2041,    // a wfdisc file cannot be read
    kMsgLayout = 2042,    // layout cannot be told
    kMsgMemory = 2043,    // no memory for the samples
    kMsgLine = 2044,      // line too long or holding a NUL
    kMsgOutdir = 2045,    // output directory unusable
    kMsgClobber = 2046,   // the output would replace a wfdisc file of this run
    kMsgOwn = 2047,       // the output would replace the record's own sample file
    kMsgRewritten = 2048, // the sample file is an output of this run
    kMsgE1 = 2049,        // e1 samples cannot be decoded
};

// The program that messages, usage hints and the summary name: "wfdxlate"
// unless another converter sets its own.
const std::string& program();
void setprogram(std::string_view name);

// Print one line on standard error, control characters shown as '?', after
// standard output and never run on from the progress line.
void complain(std::string_view line);

// "file:line", as messages name a place.
std::string fileline(std::string_view file, std::int64_t line);

// A numbered message: its catalogue text, then the particulars given with
// <<, each after a blank; printed when it goes out of scope. Its kind is
// ERROR, or NOTE for what does not fail the run.
class Message {
  public:
    explicit Message(std::int32_t number, std::string_view kind = "ERROR");
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    ~Message();
    Message& operator<<(std::string_view piece);
    Message& operator<<(std::int64_t n);

  private:
    std::string text_;
};

// Why a record was refused: its message number and the particulars.
struct Refusal {
    std::int32_t number = 0;
    std::string_view subject, detail;  // shown after the place
    std::int64_t have = -1, want = -1; // counts some messages add
    std::string reason;                // text detail may point into

    // Record a refusal; false, so that a check can return it.
    bool set(std::int32_t n, std::string_view s, std::string_view d = {}, std::int64_t h = -1,
             std::int64_t w = -1);
    // Print it as a message naming the place ("file:line").
    void print(std::string_view at) const;
};

using Clock = std::chrono::steady_clock;

// The progress line on a terminal: records done, of how many when known.
struct Progress {
    bool on = false;
    std::int64_t done = 0, total = -1, bytes = 0; // total -1: not known
    Clock::time_point start = Clock::now(), shown{};
};

// Redraw the progress line, at most ten times a second; the last call erases it.
void tick(Progress& p, bool last);

// What a run did, for its summary.
struct Tally {
    std::int64_t converted = 0, refused = 0, samples = 0;
    int filesread = 0;
};

// The closing line: records converted and refused, samples, files, seconds.
void summary(const Tally& t, bool dry, Clock::time_point start);

// The help text on standard output.
void help();

// A usage error: why, and where help is found. Returns the exit status 1.
int usage(std::string_view why);

} // namespace kivf::wfdx
