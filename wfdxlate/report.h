// What the batch mode says on standard error: numbered messages, the
// particulars of a refused record, the progress line, the closing summary and
// the usage hints.
#pragma once

#include "bot/numbers.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivf::wfdx {

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
