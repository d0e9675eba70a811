#!/usr/bin/env python3
"""Writes the manual page of the input files, advdiff2d-inputs(5), from the program's own
description of them (advdiff2d --describe-inputs), so that the page says what the program does.

    build/advdiff2d --describe-inputs | python3 scripts/inputs_man_page.py > man/advdiff2d-inputs.5

(`make man-pages` does this.) The page in man/ is kept in the repository, where `man -l` reads it
and `cmake --install` takes it from; a test checks that it is what this script makes of the
program's description.
"""

import json
import pathlib
import sys

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"


def roff(text):
    """Text for a roff line: backslashes and minus signs escaped, letters beyond ASCII as named
    characters, no control character at the start of a line."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    text = "".join(c if ord(c) < 128 else f"\\[u{ord(c):04X}]" for c in text)
    return "\\&" + text if text[:1] in (".", "'") else text


def code_list(values):
    return "; ".join(f"{v['value']} ({v['meaning']})" for v in values)


def setting_lines(setting):
    kind = setting["type"]
    facts = []
    if kind == "line":
        facts.append("a line")
    elif kind == "text":
        facts.append(f"text, at most {setting['max_length']} characters")
    else:
        facts.append("an integer" if kind == "integer" else "a real")
    if setting["minimum"] is not None and setting["maximum"] is not None:
        facts.append(f"from {setting['minimum']} to {setting['maximum']}")
    elif setting["minimum"] is not None:
        facts.append(f"at least {setting['minimum']}")
    if not setting["used"]:
        facts.append("not used")
    lines = [".TP", f".BR \"{setting['position']}  {roff(setting['name'])}\" \" ({roff('; '.join(facts))})\"",
             roff(setting["meaning"])]
    if setting["values"] is not None:
        when = f" with {setting['used_when']}" if setting["used_when"] else ""
        lines += [".br", roff(f"Accepted{when}: {code_list(setting['values'])}.")]
        others = {"refused": "Any other value is refused.",
                  "select nothing; refused by --strict":
                      "Any other value selects nothing; --strict refuses it.",
                  "the rotating flow; refused by --strict":
                      "Any other value selects the rotating flow, as 2 does; --strict refuses it."}
        lines.append(roff(others[setting["other_values"]]))
    return lines


def file_section(description):
    name = description["name"]
    when = description["read_when"]
    head = f".SH {roff(name.upper())}"
    intro = (f"Read first, always: the title line and the run mode."
             if when == "always" else
             f"Read when {when}: {len(description['settings'])} values, one per line, in this order.")
    lines = [head, roff(intro)]
    for setting in description["settings"]:
        lines += setting_lines(setting)
    return lines


def case_title(case):
    keys = [f"problem_kind {case['problem_kind']}"]
    if case["flow_angle"] is not None:
        keys.append(f"flow_angle {case['flow_angle']}")
    if case["peclet_code"] is not None:
        keys.append(f"peclet_code {case['peclet_code']}")
    elif case["problem_kind"] == 1:
        keys.append("any peclet_code")
    return f"{', '.join(keys)}: {case['name']}"


def shortest(value):
    return repr(float(value))


def case_lines(case):
    lines = [".TP", f".B \"{roff(case_title(case))}\""]
    if case["Pex"] is not None:
        lines.append(roff(f"Pex = {shortest(case['Pex'])}, Pey = {shortest(case['Pey'])}."))
        lines.append(".br")
    lines += [roff(f"Velocity: {case['velocity']}."), ".br",
              roff(f"Analytic solution: {case['analytic_solution']}."), ".br",
              roff(f"Source: {case['source']}."), ".br",
              roff(f"Boundary values: {case['boundary_values']}."), ".br",
              roff("Accuracy: the scheme is exact for this case (below)." if case["scheme_exact"] else
                   f"Accuracy: {case['accuracy']}.")]
    return lines


def page(d):
    syntax = d["syntax"]
    files = d["files"]
    lines = [
        f".TH ADVDIFF2D\\-INPUTS 5 \"2026\" \"advdiff2d {roff(d['version'])}\" \"File Formats\"",
        ".\\\" Made by scripts/inputs_man_page.py from the output of advdiff2d --describe-inputs.",
        ".SH NAME",
        "advdiff2d\\-inputs \\- the input files of advdiff2d: dados1.ent, MG2D_000.ent, SG2D_000.ent",
        ".SH DESCRIPTION",
        roff("advdiff2d and advdiff2d-reference read their settings from plain-text files in the working "
             "directory. dados1.ent gives the run mode; then MG2D_000.ent (multigrid) or SG2D_000.ent (single "
             "grid) gives the rest. There are no names or keys: a value is known by its position, and the "
             "positions below count the lines that hold values (blank lines are passed over)."),
        ".PP",
        roff("advdiff2d --describe-inputs prints this description as JSON, for programs that write input files "
             "(advdiff2d-sweep reads it)."),
        ".SS Writing a value",
        roff(f"{syntax['items'][0].upper()}{syntax['items'][1:]}. {syntax['comment'][0].upper()}"
             f"{syntax['comment'][1:]}; {syntax['blank_lines']}. Line ends: {syntax['line_ends']}."),
        ".TP", ".B integer",
        roff(f"An optional sign and digits, from {syntax['integer_range'][0]} to {syntax['integer_range'][1]}."),
        ".TP", ".B real",
        roff("An integer, a decimal number or either with an exponent (1, 0.5, .5, 1E-8, 1D-8); no inf, nan or "
             f"hexadecimal; {syntax['real_range']}."),
        ".TP", ".B text",
        roff(f"{syntax['text'][0].upper()}{syntax['text'][1:]}."),
        ".TP", ".B null",
        roff(f"{syntax['null'][0].upper()}{syntax['null'][1:]}."),
        ".PP",
        roff("advdiff2d --describe-inputs gives the integer and the real forms as regular expressions too."),
    ]
    for description in files:
        lines += file_section(description)
    lines += [
        ".SH TEST CASES",
        roff("The equation u dT/dx + v dT/dy = gamma (d2T/dx2 + d2T/dy2) + S on the unit square, with Dirichlet "
             "values on all four sides. problem_kind, flow_angle and peclet_code select the case; flow_angle and "
             "peclet_code matter with problem_kind 1 only. The report compares the numerical solution with the "
             "analytic one (its discretisation error); the iteration error is measured against the reference file."),
    ]
    for case in d["test_cases"]:
        lines += case_lines(case)
    exact = [c for c in d["test_cases"] if c["scheme_exact"]]
    lines += [
        ".PP",
        roff(f"For the {len(exact)} constant-velocity cases the scheme is exact: "
             f"{exact[0]['accuracy'].split(': ', 1)[1]}. So their \"Erro de discretização\" in the report measures "
             "the iteration, not the grid."),
        ".SH GRID HIERARCHY",
        roff(f"Multigrid runs coarsen by {d['hierarchy']['ratio']}: {d['hierarchy']['rule']}. The finest grid, "
             f"where the problem is solved and reported, has {d['hierarchy']['finest']}; "
             f"{d['hierarchy']['limit']}."),
        ".SH REFERENCE FILE",
        roff(f"{d['reference_file']['name']}: {d['reference_file']['layout']}. "
             f"Made by {d['reference_file']['made_by']}."),
        ".SH EXAMPLES",
        roff("These cases are installed with the program, in share/advdiff2d/examples under the installation "
             "prefix (examples/ in the source tree); the first line of each dados1.ent says what it is:"),
    ]
    for folder in sorted(p for p in EXAMPLES.iterdir() if p.is_dir()):
        title = (folder / "dados1.ent").read_text(encoding="latin-1").splitlines()[0]
        lines += [".TP", f".B {roff(folder.name)}", roff(title)]
    lines += [
        ".PP",
        roff("To run one, copy its input files into an empty folder, make the reference solution and run:"),
        ".PP", ".RS", ".nf",
        roff("cp PREFIX/share/advdiff2d/examples/single-grid-gs-33/*.ent ."),
        roff("advdiff2d-reference"),
        roff("advdiff2d --no-edit --verdict"),
        ".fi", ".RE",
        ".PP",
        roff("Its SG2D_000.ent, one value per line, each followed by a comment:"),
        ".PP", ".RS", ".nf",
    ]
    example = (EXAMPLES / "single-grid-gs-33" / "SG2D_000.ent").read_text(encoding="latin-1").splitlines()
    lines += [roff(line) for line in example]
    lines += [
        ".fi", ".RE",
        ".SH SEE ALSO",
        ".BR advdiff2d (1),",
        ".BR advdiff2d\\-reference (1),",
        ".BR advdiff2d\\-sweep (1)",
    ]
    return "\n".join(lines) + "\n"


def main():
    description = json.load(sys.stdin)
    if description.get("format") != "advdiff2d-inputs":
        sys.exit("inputs_man_page.py: standard input is not the output of advdiff2d --describe-inputs")
    sys.stdout.write(page(description))


if __name__ == "__main__":
    main()
