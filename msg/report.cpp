// SPDX-License-Identifier: Apache-2.0
// The failure reports of bot and co, composed as any other message.
#include "bot/report_internal.h"

#include "msg/msg.h"

namespace kivf {

void reporterror(std::int32_t number) {
    setmsg("ERROR", number);
}

void reportpiece(std::string_view text) {
    apcmsg(text);
}

void reportinteger(std::int32_t value) {
    apimsg(value);
}

void reportline(std::string_view text) {
    aplmsg(text);
}

} // namespace kivf
