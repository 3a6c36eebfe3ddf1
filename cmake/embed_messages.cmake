# SPDX-License-Identifier: Apache-2.0
# Writes the message catalogue into a C++ source as bytes, so that the library
# carries the very texts of the catalogue file. Run at build time:
#   cmake -DIN=kivaux/messages -DOUT=messages_embedded.cpp -P embed_messages.cmake
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(LENGTH "${hex}" n)
math(EXPR n "${n} / 2")
file(WRITE ${OUT}.tmp
  "// Generated from the message catalogue file at build time; do not edit.\n"
  "#include <cstddef>\n"
  "namespace kivf::detail {\n"
  "extern const char kMessages[];\n"
  "extern const std::size_t kMessagesSize;\n"
  "const char kMessages[] = {${bytes} '\\0'};\n"
  "const std::size_t kMessagesSize = ${n};\n"
  "} // namespace kivf::detail\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
