# SPDX-License-Identifier: Apache-2.0
# The header lister: its end-to-end tests run the built program on files written by hand.
if(TARGET kivhdr)
  kivf_e2e(kivhdr_e2e RUNS kivhdr LIBS kivf_static)
endif()
