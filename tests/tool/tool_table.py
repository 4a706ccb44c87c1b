#!/usr/bin/env python3
"""Runs the tool's table (tool_cases.txt) against one tool: `vorx` on Linux, or vorx.exe
under Wine through a runner. Each case runs in a fresh folder: its set-up in bash, then
the tool with its arguments (input empty), then checks of the exit code, of fragments of
standard output and error, and a bash check of the folder after. Every run: no raw escape
byte printed, and nothing on standard error on success.

  tool_table.py CASES --tool VORX [--runner WINE_RUN] [--craft CRAFT] [--stub STUB]
                [--only TAG] [--without TAG,...]

Cases tagged `posix` run on Linux only, `win` under the runner only; `--only TAG` runs
the cases of that tag alone. A case whose set-up exits with 77 is skipped; when every
case chosen was skipped, so is the run (exit 77).
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile


def parse(path):
    prelude, shared, cases, case, field = [], [], [], None, None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith("#") and not line.startswith("#!"):
            continue
        if line.startswith("== "):
            words = line[3:].split()
            case = {"name": words[0], "tags": set(words[1:]), "setup": [], "run": "", "exit": None,
                    "out": [], "err": [], "then": [], "each": []}
            cases.append(case)
            continue
        if case is None:
            (shared if line.startswith("shared: ") else prelude).append(line.removeprefix("shared: "))
            continue
        if line.startswith("  ") and field in ("setup", "then", "run"):
            if field == "run":
                case["run"] += " " + line.strip()
            else:  # a continued command
                case[field][-1] += "\n" + line.strip()
            continue
        key, _, value = line.partition(": ")
        if not line.strip():
            continue
        field = key
        if key in ("setup", "then", "out", "err", "each"):
            case[key].append(value)
        elif key in ("run", "exit"):
            case[key] = value
        else:
            sys.exit(f"{path}: unknown line: {line}")
    return "\n".join(prelude), "\n".join(shared), cases


def expand(case):
    """A case with `each: A<TAB>B` lines is one case per line, {1} and {2} replaced (and
    given to its shell commands as $V1, $V2 too)."""
    if not case["each"]:
        return [case]
    copies = []
    for line in case["each"]:
        values = line.split("\t") + [""] * 3
        sub = lambda s: re.sub(r"\{(\d)\}", lambda m: values[int(m.group(1)) - 1], s)
        copy = {k: ([sub(x) for x in v] if isinstance(v, list) else sub(v) if isinstance(v, str) else v)
                for k, v in case.items()}
        copy["name"] = f"{case['name']}[{values[0]!r}]"
        copy["values"] = values
        copies.append(copy)
    return copies


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cases")
    ap.add_argument("--tool", required=True)
    ap.add_argument("--runner", default="")
    ap.add_argument("--craft", default="")
    ap.add_argument("--stub", default="")
    ap.add_argument("--only", default="")
    ap.add_argument("--without", default="")
    a = ap.parse_args()
    windows = bool(a.runner)
    prelude, shared, cases = parse(a.cases)
    env = dict(os.environ, LC_ALL="C.UTF-8", TZ="UTC0", VORX=os.path.realpath(a.tool), RUNNER=a.runner,
               CRAFT=os.path.realpath(a.craft) if a.craft else "", STUB=a.stub,
               NAMES=os.path.join(os.path.dirname(os.path.abspath(a.cases)), "hostile_names.txt"))
    sep = "\\" if windows else "/"
    failures, ran, skipped = [], 0, 0
    with tempfile.TemporaryDirectory() as shared_dir:
        env["A"] = shared_dir
        if subprocess.run(["bash", "-c", prelude + "\ncd \"$A\"\n" + shared], env=env).returncode == 77:
            print("[  SKIPPED ] the runner cannot run the tool here")
            return 77
        without = set(filter(None, a.without.split(",")))
        for case in (c for raw in cases for c in expand(raw)):
            tags = case["tags"]
            if ("posix" in tags and windows) or ("win" in tags and not windows) or tags & without:
                continue
            if a.only and a.only not in tags:
                continue
            with tempfile.TemporaryDirectory() as folder:
                result = run_case(case, prelude, env, folder, sep)
            if result is None:
                skipped += 1
                continue
            ran += 1
            if result:
                failures.append(f"FAILED {case['name']}: vorx {case['run']}\n" + result)
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"{ran} cases run, {skipped} skipped, {len(failures)} failed")
    if failures:
        return 1
    return 77 if ran == 0 else 0


def run_case(case, prelude, env, folder, sep):
    """What failed in words (empty: nothing), or None when the set-up asks to skip."""
    fix = lambda s: s.replace("{/}", sep)
    # Every command of the set-up and of the check must succeed (`exit 77` skips).
    each = lambda commands, code: "".join(f"{{ {c}\n}} || exit {code}\n" for c in commands)
    script = (prelude + "\nmake_src || exit 99\n" + each(case["setup"], 99) +
              "exec $RUNNER \"$VORX\" " + case["run"] + " </dev/null >stdout.txt 2>stderr.txt")
    env = dict(env, **{f"V{i + 1}": v for i, v in enumerate(case.get("values", []))})
    proc = subprocess.run(["bash", "-c", script], cwd=folder, env=env, capture_output=True)
    said = (proc.stdout + proc.stderr).decode(errors="replace")
    if proc.returncode == 77 and not os.path.exists(os.path.join(folder, "stdout.txt")):
        print(f"[  SKIPPED ] {case['name']}: {said.strip()}")
        return None
    if proc.returncode == 99 and not os.path.exists(os.path.join(folder, "stdout.txt")):
        return "set-up failed:\n" + said
    read = lambda name: open(os.path.join(folder, name), "rb").read().decode("utf-8", "replace")
    out, err, code = read("stdout.txt"), read("stderr.txt"), proc.returncode
    problems = []
    if case["exit"] is not None and code != int(case["exit"]):
        problems.append(f"exit {code}, expected {case['exit']}")
    problems += [f"no '{fix(s)}' in the output" for s in case["out"] if fix(s) not in out]
    problems += [f"no '{fix(s)}' in the errors" for s in case["err"] if fix(s) not in err]
    if "\x1b" in out + err:
        problems.append("an escape byte printed raw")
    if code == 0 and err:
        problems.append("errors printed on success")
    if case["then"]:
        check = subprocess.run(["bash", "-c", prelude + f"\ncode={code}\n" + each(case["then"], 1)],
                               cwd=folder, env=env, capture_output=True)
        if check.returncode != 0:
            problems.append("the check after failed: " + "\n".join(case["then"]) + "\n" +
                            (check.stdout + check.stderr).decode(errors="replace"))
    if problems:
        problems.append(f"--- out:\n{out[-1500:]}--- err:\n{err[-1500:]}")
    return "\n".join(problems)


if __name__ == "__main__":
    sys.exit(main())
