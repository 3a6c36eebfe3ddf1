// Uses the installed headers and library: composes a message and prints it.
#include "bot/bot.h"
#include "msg/msg.h"

int main() {
    kivf::Text<8> t;
    kivf::cnvita(42, t);
    kivf::ljust(t);
    kivf::setmsg("OUTPUT", 5);
    kivf::apcmsg("answer");
    kivf::apcmsg(t);
    kivf::wrtmsg(6);
    return t.used() == "42" ? 0 : 1;
}
