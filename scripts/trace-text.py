#!/usr/bin/env python3
"""Prints the service's trace file (UTF-16LE with byte-order mark, CR LF lines) as UTF-8.

  trace-text.py FILE            the whole file
  trace-text.py --follow FILE   what is there, then what is appended, until interrupted
                                (a file that shrinks or is replaced is read from its start)
"""
import codecs
import os
import signal
import sys
import time


def text_of(data, decoder):
    return decoder.decode(data).replace("\ufeff", "").replace("\r", "")


def follow(path):
    # Ctrl+C and a termination end the follower quietly, even when the caller started it
    # with the interrupt ignored (as shells do for background commands).
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    position, decoder = 0, codecs.getincrementaldecoder("utf-16-le")("replace")
    try:
        while True:
            try:
                size = os.path.getsize(path)
            except OSError:
                size = 0
            if size < position:
                position, decoder = 0, codecs.getincrementaldecoder("utf-16-le")("replace")
            if size > position:
                with open(path, "rb") as f:
                    f.seek(position)
                    data = f.read(size - position)
                position += len(data)
                sys.stdout.write(text_of(data, decoder))
                sys.stdout.flush()
            time.sleep(0.3)
    except KeyboardInterrupt:
        pass


def main(argv):
    if len(argv) == 2 and argv[0] == "--follow":
        follow(argv[1])
        return 0
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    try:
        with open(argv[0], "rb") as f:
            data = f.read()
    except OSError as error:
        sys.stderr.write(f"trace-text: {error}\n")
        return 1
    sys.stdout.write(text_of(data, codecs.getincrementaldecoder("utf-16-le")("replace")))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
