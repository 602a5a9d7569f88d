#!/usr/bin/env python3
"""Mutation check of the platform-free cores against the native test suite.

Applies each mutation of tests/mutation/mutations.txt in turn: one exact text of one
file, which must occur exactly once, replaced by another. After each one it rebuilds
build/native incrementally, runs the test programs the rebuild relinked (the only ones
the mutated file can reach) and restores the file, also on Ctrl+C or a failed build.
A mutation is "killed" when a test program fails (or runs past the time limit),
"survived" when all pass and "build-failed" when it does not compile. The last line is
"mutations: K killed of N".

    scripts/mutate.py                 # every mutation
    scripts/mutate.py xml/xml_node    # only those whose file path contains the text
    scripts/mutate.py --list          # the list, without running anything

build/native must exist (scripts/test.sh, or: cmake -S tests/native -B build/native -G Ninja).
"""
import os
import signal
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.join(os.environ.get("BUILD_DIR", os.path.join(root, "build")), "native")
list_path = os.path.join(root, "tests", "mutation", "mutations.txt")
# A file left mutated by a run that was killed outright is put back from here first.
backup_path = os.path.join(build, "mutation-backup")
test_limit_seconds = 300
# A mutation that makes a loop grow without end would take the machine's memory long
# before the time limit: AddressSanitizer ends such a program at this size instead.
test_memory_limit_mb = 2048


class Mutation:
    def __init__(self, path, line):
        self.path, self.line = path, line
        self.original = self.replacement = None
        self.neutral = None  # the reason, for a mutation known not to change behaviour


def read_list():
    """The list's blocks: "mutate <file>", "from: <text>", "to: <text>", "neutral: <why>"."""
    mutations = []
    with open(list_path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            key, sep, value = line.strip().partition(" ")
            if key == "mutate":
                mutations.append(Mutation(value.strip(), number))
                continue
            if not mutations or key not in ("from:", "to:", "neutral:"):
                sys.exit(f"{list_path}:{number}: expected 'mutate <file>', 'from:', 'to:' or 'neutral:'")
            # The text is everything after "from: " / "to: " exactly (an empty "to:" deletes).
            text = line.strip()[len(key) + 1:] if sep else ""
            m = mutations[-1]
            if key == "from:":
                m.original = text
            elif key == "to:":
                m.replacement = text
            else:
                m.neutral = text
    for m in mutations:
        if not m.original or m.replacement is None:
            sys.exit(f"{list_path}:{m.line}: a mutation needs 'from:' and 'to:'")
    return mutations


def restore_leftover():
    if not os.path.exists(backup_path):
        return
    with open(backup_path, encoding="utf-8") as f:
        path = f.readline().rstrip("\n")
        content = f.read()
    with open(os.path.join(root, path), "w", encoding="utf-8") as f:
        f.write(content)
    os.remove(backup_path)
    print(f"restored {path}, left mutated by an earlier run")


def build_native():
    return subprocess.run(["cmake", "--build", build], cwd=root, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True).returncode == 0


def test_programs():
    """Every test program of build/native with its modification time."""
    found = {}
    for name in os.listdir(build):
        path = os.path.join(build, name)
        if name.endswith("_tests") and os.access(path, os.X_OK) and os.path.isfile(path):
            found[path] = os.stat(path).st_mtime_ns
    return found


def run_tests(programs):
    """True when every program passes; a program that hangs counts as a failure."""
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:hard_rss_limit_mb=%d" % test_memory_limit_mb, UBSAN_OPTIONS="print_stacktrace=0")
    for program in programs:
        try:
            done = subprocess.run([program, "--gtest_brief=1", "--gtest_fail_fast"], cwd=build, env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=test_limit_seconds)
        except subprocess.TimeoutExpired:
            return False
        if done.returncode != 0:
            return False
    return True


def apply(m):
    """The original content of the file, after writing the mutated one (None: no match)."""
    path = os.path.join(root, m.path)
    if not os.path.isfile(path):  # a file the list names is gone: stale like a text that moved
        return None, 0
    with open(path, encoding="utf-8") as f:
        content = f.read()
    if content.count(m.original) != 1:
        return None, content.count(m.original)
    with open(backup_path, "w", encoding="utf-8") as f:
        f.write(m.path + "\n" + content)
    with open(path, "w", encoding="utf-8") as f:
        f.write(content.replace(m.original, m.replacement, 1))
    return content, 1


def put_back(m, content):
    # Written anew (not only renamed), so its time is newer than the mutated object's and
    # the next build compiles the original again.
    with open(os.path.join(root, m.path), "w", encoding="utf-8") as f:
        f.write(content)
    os.remove(backup_path)


def main():
    args = sys.argv[1:]
    mutations = read_list()
    if args and args[0] == "--list":
        for m in mutations:
            print(f"{m.path}: '{m.original}' -> '{m.replacement}'" + (" (neutral)" if m.neutral else ""))
        return 0
    if args:
        mutations = [m for m in mutations if any(a in m.path for a in args)]
    if not os.path.isdir(build):
        sys.exit(f"{build} is missing: run scripts/test.sh once, or cmake -S tests/native -B {build} -G Ninja")
    # SIGTERM ends the run as Ctrl+C does, through the restoring finally below.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    restore_leftover()
    if not build_native() or not run_tests(list(test_programs())):
        sys.exit("the native suite does not build or pass unmutated: nothing to measure")

    started = time.monotonic()
    killed = survived_changing = stale = 0
    survivors = []
    for m in mutations:
        before = test_programs()
        content, matches = apply(m)
        if content is None:
            outcome = f"stale ({matches} matches)"
            stale += 1
        else:
            try:
                if not build_native():
                    outcome = "build-failed"
                else:
                    after = test_programs()
                    relinked = [p for p, t in after.items() if before.get(p) != t]
                    outcome = "killed" if not run_tests(relinked) else "survived"
            finally:
                put_back(m, content)
        if outcome == "killed":
            killed += 1
        elif outcome == "survived":
            survivors.append(m)
            if not m.neutral:
                survived_changing += 1
        note = f" (neutral: {m.neutral})" if m.neutral and outcome == "survived" else ""
        print(f"{outcome:13} {m.path}: '{m.original}' -> '{m.replacement}'{note}", flush=True)

    # Leave build/native built from the unmutated tree.
    build_native()
    changing = sum(1 for m in mutations if not m.neutral)
    print(f"behaviour-changing survivors: {survived_changing} of {changing} behaviour-changing mutations; "
          f"{time.monotonic() - started:.0f} s")
    if stale:
        print(f"{stale} mutations no longer match their file exactly once: update tests/mutation/mutations.txt")
    print(f"mutations: {killed} killed of {len(mutations)}")
    return 1 if stale else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("interrupted: the mutated file is restored")
