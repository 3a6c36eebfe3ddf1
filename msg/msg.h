// SPDX-License-Identifier: Apache-2.0
// The message system: one numbered message under construction, composed in a
// process-wide buffer, looked up in a catalogue and printed on units.
#pragma once

#include "bot/bot.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivf {

inline constexpr std::int32_t kMsgLines = 5;
inline constexpr std::int32_t kMsgLineLen = 160;
inline constexpr std::int32_t kMsgFirstLineRoom = 150; // apcmsg fills line 1 only this far
inline constexpr std::int32_t kMsgTypes = 6;
inline constexpr std::int32_t kMsgDests = 5;
inline constexpr std::int32_t kCatMax = 400;

using MsgLine = Text<kMsgLineLen>;
// A message numbered this or more starts with its catalogue text; below, with none.
inline constexpr std::int32_t kFirstCatalogued = 100;

// Numeric part of the message state. Zero-filled at program start.
struct CmMsg {
    std::int32_t msgnum;   // number of the message under construction; 0 after a clear
    std::int32_t msgtype;  // 1..6; 0 after a clear
    std::int32_t nmsgline; // lines in use, 1..5 once cleared
    std::int32_t msgcol;   // columns used on the current line, with the blank after the last piece
    bool autoprint;        // print a full message and go on; never set by this system
    std::int32_t ndest;    // registered destinations, 0..5
    std::array<std::int32_t, kMsgDests> destunit;
    std::array<std::array<bool, kMsgTypes>, kMsgDests> destact; // per destination, per type
    std::int32_t ncatmsg;                                       // catalogue entries loaded
    std::array<std::int32_t, kCatMax> catnum;
};

// Text part of the message state.
struct KmMsg {
    std::array<Text<8>, kMsgTypes> typname;
    std::array<MsgLine, kMsgLines> msgline;
    std::array<MsgLine, kCatMax> cattext;
};

extern CmMsg cmmsg;
extern KmMsg kmmsg;

// ------------------------------------------------------------ composing ----

// Discard the current message and start one of this type and number; a number
// of 100 or more starts with its catalogue text.
void setmsg(std::string_view ktype, std::int32_t number);
// Type of the current message from the first character of the type text
// (ERRORS, WARNINGS, OUTPUT, COMMANDS, MACROS, PROCESSED); anything else is 3.
void typmsg(std::string_view ktype);
// Discard the current message.
void clrmsg();
// Append the used part of a text as one piece, after one blank.
void apcmsg(std::string_view text);
// Append an integer as one piece.
void apimsg(std::int32_t value);
// Put the used part of a text on a new line.
void aplmsg(std::string_view text);
// Append the catalogue text of another message as one piece.
void apcmsgnum(std::int32_t number);
// Catalogue text of a number, or "Number" and the number in 5 columns.
void getmsg(std::int32_t number, std::span<char> text);
// The text of a number no catalogue holds: "Number" and the number in 5 columns.
void nocatalogue(std::int32_t number, std::span<char> text);

// --------------------------------------------------------------- output ----

// Write the current message to every destination that takes its type.
void outmsg();
// Write the current message to one unit, with the short prefix.
void wrtmsg(std::int32_t unit);
// Register (send true), change or remove (send false) a destination.
void sendmsg(std::int32_t unit, bool send, const std::array<bool, kMsgTypes>& types);
// Whether the library prints its messages (outmsg, wrtmsg and every routine that reports at
// once, such as wkiv0 and setfhv/setnhv/setkhv). true (the default) prints as always; false
// prints nothing: the message stays in the buffer for lastmsg.
void msgprint(bool on);
// The message in the buffer: its number (0 when none) and its text as one line per message line,
// lines joined by '\n', formatted as wrtmsg prints it but without the leading blank and bell,
// e.g. "ERROR 1410: KIV file does not exist: x.kiv". text is blank-padded; cut when too short.
void lastmsg(std::int32_t& number, std::span<char> text);
// The same text as one string, without the padding.
std::string lastmsg();

// --------------------------------------------------- failures as values ----

// A failure as the modern face returns it: its message number (0: none), the
// message as lastmsg gives it (e.g. "ERROR 1410: KIV file does not exist:
// x.kiv") and, where the system failed, its errno (else 0). Composed apart
// from the process's message buffer, so any thread may make one.
struct Failure {
    std::int32_t number = 0;
    std::string text;
    int err = 0;
    explicit operator bool() const noexcept { return number != 0; }
};

// A failure being composed by a routine that may run on any thread: its number,
// then pieces (each as apcmsg appends one) and lines (each as aplmsg starts
// one), and the errno where the system failed. Nothing process-wide is touched
// until post.
class Draft {
  public:
    Draft() = default;
    explicit Draft(std::int32_t number, int err = 0);
    Draft& operator<<(std::string_view piece);
    Draft& operator<<(std::int64_t value); // in full, as one piece
    Draft& line(std::string_view text);
    std::int32_t number() const noexcept { return number_; }
    int err() const noexcept { return err_; }
    // The failure as a value, its text composed as the buffer would compose
    // it, catalogue texts from the modern face's catalogue.
    Failure failure() const;
    // The same into the process's buffer: setmsg("ERROR", number), then the
    // pieces and lines through apcmsg and aplmsg, with the buffer's catalogue.
    void post() const;

  private:
    std::int32_t number_ = 0;
    int err_ = 0;
    std::vector<std::pair<bool, std::string>> pieces_; // (on a new line, text)
};

// ---------------------------------------------------------- the printer ----

// The programs' messages on standard error, one printer for all: standard
// output is flushed first, so that a terminal shows both in order; a message
// is one line, control characters shown as '?' (mask false: the caller has
// shown them, keeping the ones it wants, such as a tab between columns); a
// progress line standing on the terminal is erased first.
void printline(std::string_view text, bool mask = true);
// Draw a progress line in place on standard error (text begins with '\r');
// last erases it.
void printprogress(std::string_view text, bool last);
// A failure's text on one line: its message lines joined by blanks.
std::string oneline(const Failure& failed);

// ------------------------------------------------------------- start-up ----

// Name the types, empty the message, register the terminal (unit 6, types 1
// to 3) and load the catalogue; a failure to load is printed with outmsg.
void inimsg();
// Load the file "messages" of the KIVAUX directory into the catalogue, after
// the entries already loaded; with KIVAUX unset, the same texts as compiled
// into the library.
void kivmsg(std::int32_t& nerr);

} // namespace kivf
