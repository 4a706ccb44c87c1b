#!/usr/bin/env python3
"""Runs the tool's table (tool_cases.txt, whose head tells its form) against `vorx`, or
against vorx.exe under Wine through --runner. Every run also: no raw escape byte printed,
nothing on standard error on success. A case whose set-up exits with 77 is skipped; when
every case chosen was, so is the run (77).
  tool_table.py CASES --tool VORX [--runner WINE_RUN] [--craft CRAFT] [--stub STUB]
                [--only TAG] [--without TAG,...]
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile

LISTS = ("setup", "then", "out", "err", "each")
CASE_SECONDS = 240  # one case, set-up included (the slowest take a few seconds; Wine more)


def parse(path):
    prelude, shared, cases, case, field = [], [], [], None, None
    for line in open(path, encoding="utf-8").read().splitlines():
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("== "):
            case = dict({k: [] for k in LISTS}, run="{1}", exit="{2}", name=line.split()[1],
                        tags=set(line.split()[2:]))
            cases.append(case)
        elif case is None:
            (shared if line.startswith("shared: ") else prelude).append(line.removeprefix("shared: "))
        elif line.startswith("  ") and field in ("setup", "then"):
            case[field][-1] += "\n" + line.strip()  # a command continued
        else:
            field, _, value = line.partition(": ")
            field, _, row_tag = field.partition(" ")  # each posix: / each win: a row of one side
            if field not in LISTS + ("run", "exit") or row_tag and field != "each":
                sys.exit(f"{path}: unknown line: {line}")
            value = (row_tag, value) if field == "each" else value
            case[field] = case[field] + [value] if field in LISTS else value
    for case in (c for c in cases if not c["each"] and re.search(r"\{\d\}", c["run"] + c["exit"])):
        sys.exit(f"{path}: {case['name']} has no run: or no exit:")
    return "\n".join(prelude), "\n".join(shared), cases


def expand(case):
    """One case per `each:` line, its tab-separated values for {1}, {2}... ($V1, $V2...)."""
    for tag, line in case["each"] or [("", None)]:
        values = [] if line is None else (line.split("\t") + [""] * 9)[:9]
        sub = lambda s: re.sub(r"\{(\d)\}", lambda m: values[int(m.group(1)) - 1] if values else m[0], s)
        copy = {k: [sub(x) for x in v] if isinstance(v, list) else sub(v) if isinstance(v, str) else v
                for k, v in case.items() if k != "each"}
        row = "" if line is None else "[" + line.replace("\t", " | ") + "]"
        yield dict(copy, name=case["name"] + row, values=values, tags=case["tags"] | {tag} - {""})


def run_case(case, prelude, env, folder, sep):
    """What failed in words (empty: nothing), or None when the set-up asks to skip."""
    fix = lambda s: s.replace("{/}", sep)
    each = lambda commands, code: "".join(f"{{ {c}\n}} || exit {code}\n" for c in commands)
    script = (prelude + "\nmake_src || exit 99\n" + each(case["setup"], 99) +
              "exec $RUNNER \"$VORX\" " + case["run"] + " </dev/null >stdout.txt 2>stderr.txt")
    env = dict(env, **{f"V{i + 1}": v for i, v in enumerate(case["values"])})
    # A run that hangs fails here, with everything it started, instead of holding up the suite.
    proc = subprocess.Popen(["bash", "-c", script], cwd=folder, env=env, start_new_session=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        said = b"".join(proc.communicate(timeout=CASE_SECONDS)).decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        return f"did not end within {CASE_SECONDS} s"
    if not os.path.exists(os.path.join(folder, "stdout.txt")):
        if proc.returncode == 77:
            print(f"[  SKIPPED ] {case['name']}: {said.strip()}")
            return None
        return "set-up failed:\n" + said
    read = lambda name: open(os.path.join(folder, name), "rb").read().decode("utf-8", "replace")
    out, err, code = read("stdout.txt"), read("stderr.txt"), proc.returncode
    problems = [f"exit {code}, expected {case['exit']}"] if code != int(case["exit"]) else []
    problems += [f"no '{fix(s)}' in the output" for s in case["out"] if fix(s) not in out]
    problems += [f"no '{fix(s)}' in the errors" for s in case["err"] if fix(s) not in err]
    problems += ["an escape byte printed raw"] if "\x1b" in out + err else []
    problems += ["errors printed on success"] if code == 0 and err else []
    check = subprocess.run(["bash", "-c", prelude + "\n" + each(case["then"], 1)],
                           cwd=folder, env=env, capture_output=True)
    if check.returncode != 0:
        problems.append("the check after failed: " + "\n".join(case["then"]) + "\n" +
                        (check.stdout + check.stderr).decode(errors="replace"))
    if problems:
        problems.append(f"--- out:\n{out[-1500:]}--- err:\n{err[-1500:]}")
    return "\n".join(problems)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cases")
    for option in ("--tool", "--runner", "--craft", "--stub", "--only", "--without"):
        ap.add_argument(option, default="")
    a = ap.parse_args()
    prelude, shared, cases = parse(a.cases)
    left_out = {"posix" if a.runner else "win"} | set(a.without.split(","))
    env = dict(os.environ, LC_ALL="C.UTF-8", TZ="UTC0", VORX=os.path.realpath(a.tool), RUNNER=a.runner,
               CRAFT=os.path.realpath(a.craft), STUB=a.stub)
    results = []
    with tempfile.TemporaryDirectory() as shared_dir:
        env["A"] = shared_dir
        if subprocess.run(["bash", "-c", prelude + "\ncd \"$A\"\n" + shared], env=env).returncode == 77:
            print("[  SKIPPED ] the runner cannot run the tool here")
            return 77
        for case in (c for raw in cases for c in expand(raw)):
            if case["tags"] & left_out or (a.only and a.only not in case["tags"]):
                continue
            with tempfile.TemporaryDirectory() as folder:
                results.append((case, run_case(case, prelude, env, folder, "\\" if a.runner else "/")))
    failures = [f"FAILED {case['name']}: vorx {case['run']}\n{result}" for case, result in results if result]
    ran = sum(result is not None for _, result in results)
    print("\n".join(failures), file=sys.stderr)
    print(f"{ran} cases run, {len(results) - ran} skipped, {len(failures)} failed")
    return 1 if failures else 77 if ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
