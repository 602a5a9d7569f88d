#!/usr/bin/env bash
# widl writes "Created by WIDL version N at <the time of the run>" into every type library
# it makes and takes no SOURCE_DATE_EPOCH. This writes EPOCH (UTC, the same 24-character
# form, so every length in the file stays) in its place, so the library, and every program
# that embeds it, is the same in two builds of one commit.
#   pin_widl_time.sh TLB EPOCH
set -euo pipefail
perl -0777 -pi -e 'BEGIN { $stamp = gmtime(pop @ARGV) }
  s/(Created by WIDL version [0-9.]+ at )[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}/$1$stamp/g' \
  "$1" "$2"
