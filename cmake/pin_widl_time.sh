#!/usr/bin/env bash
# widl writes the time of its run into every type library it makes, twice, and takes no
# SOURCE_DATE_EPOCH: as the text "Created by WIDL version N at <ctime>" and as a 32-bit
# number (a VT_UI4 custom value, "\x13\x00" and the seconds). This writes EPOCH in both
# places (the text in UTC, in the same 24-character form, so every length in the file
# stays), so the library, and every program that embeds it, is the same in two builds of
# one commit. The number is found as a VT_UI4 within a minute before the file was written.
#   pin_widl_time.sh TLB EPOCH
set -euo pipefail
perl -0777 -pi -e 'BEGIN { $epoch = pop @ARGV; $stamp = gmtime($epoch); $written = (stat $ARGV[0])[9] }
  s/(Created by WIDL version [0-9.]+ at )[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}/$1$stamp/g;
  s/\x13\x00(....)/my $t = unpack("V", $1); ($t <= $written && $t > $written - 60) ? "\x13\x00" . pack("V", $epoch) : $&/gse' \
  "$1" "$2"
