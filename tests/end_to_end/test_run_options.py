"""The options that watch and judge a run, end to end, read back with Python's own json and re:
--monitor prints every norm of the run as the summary holds it, --verdict and --strict say whether
the run converged (status 3 under --strict when it did not, with everything written), --profile
accounts for the time of one simulation, and none of them changes a byte of the report.
--describe-inputs describes the files the program reads, the manual page of the input files is
made from it, and every manual page renders, from the source tree and once installed."""

import json
import os
import pathlib
import re
import shutil
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = REPO / "tests" / "end_to_end" / "golden"
# The report lines that hold the date or a time, which differ from run to run.
TIMING_LINES = tuple(label.encode("latin-1") for label in (
    "Data da simulacao", "Tempo de processamento", "Número de vezes", "Tempo de cada simulação"))


@pytest.fixture(scope="module")
def description(build_dir):
    run = subprocess.run([build_dir / "advdiff2d", "--describe-inputs"], capture_output=True, text=True,
                         check=True)
    return json.loads(run.stdout)


def golden_case(name, folder):
    folder.mkdir()
    for source in (GOLDEN / name).iterdir():
        if not source.name.startswith("expected-"):
            shutil.copy(source, folder / source.name)
    return folder


def run(build_dir, folder, *options):
    return subprocess.run([build_dir / "advdiff2d", "--no-edit", "--window", "0", *options], cwd=folder,
                          capture_output=True, text=True, stdin=subprocess.DEVNULL)


def report_without_times(path):
    return [line for line in path.read_bytes().split(b"\n") if not line.startswith(TIMING_LINES)]


def set_value(path, line, value):
    lines = path.read_text().splitlines(keepends=True)
    lines[line - 1] = f"{value}        edited\n"
    path.write_text("".join(lines))


@pytest.mark.parametrize("case,report,unit", [("mg-gs-rotating-L5", "mg_gs.txt", "V-cycle"),
                                              ("sg-gs-rotating-17", "sg_gs_rot.txt", "iteration")])
def test_monitor_verdict_and_profile_tell_the_run_and_leave_its_report_alone(build_dir, description, tmp_path,
                                                                             case, report, unit):
    plain = golden_case(case, tmp_path / "plain")
    assert run(build_dir, plain).returncode == 0
    watched = golden_case(case, tmp_path / "watched")
    result = run(build_dir, watched, "--monitor", "--verdict", "--profile", "--summary", "run.json")
    assert result.returncode == 0, result.stderr
    assert report_without_times(watched / report) == report_without_times(plain / report)
    summary = json.loads((watched / "run.json").read_text())

    # One line per norm, as recorded, and the very doubles of the summary.
    lines = result.stderr.splitlines()
    assert len(lines) == summary["iteration_count"] + 1
    assert [line.split()[:2] for line in lines] == [[unit, str(n)] for n in range(len(lines))]
    assert [float(line.split()[3]) for line in lines] == summary["norm_history"]
    assert [line.split()[4:5] for line in lines] == [[]] + [["ratio"]] * (len(lines) - 1)

    verdict = result.stdout.splitlines()[-1]
    assert verdict.startswith(f"converged (tolerance_reached): {summary['iteration_count']} {unit}s, final norm ")
    assert verdict.endswith(" <= tolerance 1.0000e-10")

    # The phases add up to the time of one simulation; the levels are the run's.
    profile = summary["profile"]
    assert list(profile["phases"]) == ["reference_reading", "setup_and_assembly", "smoothing",
                                       "residual_and_restriction", "prolongation", "norm", "other"]
    assert all(seconds >= 0 for seconds in profile["phases"].values())
    assert sum(profile["phases"].values()) == pytest.approx(profile["seconds"], rel=1e-9)
    assert profile["repetitions"] == summary["timing"]["repetition_count"]
    multigrid = summary["run_mode"] == 1
    assert [(level["Nx"], level["Ny"]) for level in profile["levels"]] == (
        [(level["Nx"], level["Ny"]) for level in summary["levels"]] if multigrid else [])
    assert result.stdout.startswith("Time of one simulation: ")
    assert ("V-cycles by level" in result.stdout) == multigrid

    # The description names the settings the run read, in file order (run_mode first).
    parameter_file = next(f for f in description["files"] if f["read_when"] == f"run_mode {summary['run_mode']}")
    described = [s["name"] for s in parameter_file["settings"] if s["used"]]
    assert ["run_mode", *described] == list(summary["settings"])


def test_strict_ends_a_run_stopped_at_its_bound_with_status_3_and_everything_written(build_dir, tmp_path):
    folder = golden_case("sg-gs-rotating-17", tmp_path / "bounded")
    set_value(folder / "SG2D_000.ent", 10, 5)  # max_iterations: far from the tolerance
    lenient = run(build_dir, folder)
    assert (lenient.returncode, lenient.stdout, lenient.stderr) == (0, "", "")

    (folder / "sg_gs_rot.txt").unlink()
    told = run(build_dir, folder, "--strict", "--verdict", "--summary", "run.json")
    assert told.returncode == 3, told.stderr
    assert (folder / "sg_gs_rot.txt").exists()
    summary = json.loads((folder / "run.json").read_text())
    assert (summary["converged"], summary["stop_reason"]) == (False, "iteration_bound_reached")
    assert re.fullmatch(r"not converged \(iteration_bound_reached\): 5 iterations, final norm \S+ > tolerance "
                        r"1\.0000e-10\n", told.stdout), told.stdout
    assert told.stderr == ""

    silent = run(build_dir, folder, "--strict")
    assert silent.returncode == 3 and silent.stdout == ""
    assert silent.stderr.startswith("advdiff2d: not converged (iteration_bound_reached): 5 iterations")
    assert silent.stderr.count("\n") == 1

    converged = golden_case("sg-gs-rotating-17", tmp_path / "converged")
    assert run(build_dir, converged, "--strict").returncode == 0


def test_described_item_forms_read_as_the_program_reads_them(description):
    syntax = description["syntax"]
    integer, real = re.compile(syntax["integer"]), re.compile(syntax["real"])
    assert syntax["integer_range"] == [-2147483648, 2147483647]
    integers = {"0": True, "-0": True, "+12": True, "0002147483647": True, "-2147483648": True,
                "2147483648": False, "-2147483649": False, "1.0": False, "1_0": False, " 1": False,
                "1\n": False, "": False}
    reals = {"1": True, "1.": True, ".5": True, "-.5E+3": True, "1D-8": True, "7d0": True, ".": False,
             "1e": False, "inf": False, "nan": False, "0x10": False, "1_0": False, "1.5.2": False,
             "1 ": False, "1e5\n": False}
    for item, accepted in integers.items():
        assert bool(integer.fullmatch(item)) == accepted, item
    for item, accepted in reals.items():
        assert bool(real.fullmatch(item)) == accepted, item


def test_description_lists_every_position_and_the_velocity_table(description):
    files = {f["name"]: f for f in description["files"]}
    assert [(name, len(f["settings"])) for name, f in files.items()] == [
        ("dados1.ent", 2), ("MG2D_000.ent", 21), ("SG2D_000.ent", 17)]
    for f in files.values():
        assert [s["position"] for s in f["settings"]] == list(range(1, len(f["settings"]) + 1))
        for s in f["settings"]:
            assert s["type"] in ("line", "integer", "real", "text")
            assert (s["values"] is None) == (s["other_values"] is None)
            assert s["other_values"] in (None, "refused", "select nothing; refused by --strict",
                                         "the rotating flow; refused by --strict")
    solver = {name: [v["value"] for v in files[name]["settings"][0]["values"]] for name in ("MG2D_000.ent",
                                                                                          "SG2D_000.ent")}
    assert solver == {"MG2D_000.ent": [1, 2, 3], "SG2D_000.ent": [1, 2, 3, 4]}

    cases = description["test_cases"]
    assert len({c["name"] for c in cases}) == len(cases) == 12
    for c in cases:
        assert c["scheme_exact"] == (c["problem_kind"] == 1 and c["flow_angle"] != 3), c["name"]
    pairs = {(c["flow_angle"], c["peclet_code"]) for c in cases if c["problem_kind"] == 1}
    angles = [v["value"] for v in files["SG2D_000.ent"]["settings"][6]["values"]]
    assert sorted({angle for angle, _ in pairs}) == angles
    assert (45, None) not in pairs and (45, 2) in pairs
    assert next(c for c in cases if c["peclet_code"] == 2)["Pex"] == 2.1213203435596428


def rendered(page, env=None):
    result = subprocess.run(["man", "--warnings", "-l", str(page)], capture_output=True, text=True,
                            env={**os.environ, "MANWIDTH": "100", **(env or {})})
    assert result.returncode == 0 and result.stderr == "", result.stderr
    return result.stdout


def test_manual_page_of_the_inputs_is_made_from_the_description_and_pages_render(build_dir, description):
    made = subprocess.run(["python3", REPO / "scripts" / "inputs_man_page.py"], input=json.dumps(description),
                          capture_output=True, text=True, check=True).stdout
    assert made == (REPO / "man" / "advdiff2d-inputs.5").read_text(), "run make man-pages"
    if shutil.which("man") is None:
        pytest.skip("man is not installed (scripts/install_deps.sh installs man-db)")
    for page in sorted((REPO / "man").iterdir()):
        rendered(page)
    text = rendered(REPO / "man" / "advdiff2d-inputs.5")
    for f in description["files"]:
        for s in f["settings"]:
            assert f"{s['position']}  {s['name']}" in text, s["name"]


def test_installed_tree_holds_the_pages_and_the_examples_and_runs_them(build_dir, tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", str(build_dir), "--prefix", str(prefix)], check=True,
                   capture_output=True)
    pages = {p.relative_to(prefix / "share" / "man").as_posix() for p in (prefix / "share" / "man").rglob("*.[15]")}
    assert {"man1/advdiff2d.1", "man1/advdiff2d-reference.1", "man5/advdiff2d-inputs.5"} <= pages
    if shutil.which("man"):
        for page in pages:
            rendered(prefix / "share" / "man" / page)
    examples = prefix / "share" / "advdiff2d" / "examples"
    assert sorted(p.name for p in examples.iterdir()) == sorted(p.name for p in (REPO / "examples").iterdir())
    work = tmp_path / "case"
    shutil.copytree(examples / "single-grid-gs-33", work)
    subprocess.run([prefix / "bin" / "advdiff2d-reference"], cwd=work, check=True, capture_output=True)
    result = subprocess.run([prefix / "bin" / "advdiff2d", "--no-edit", "--window", "0", "--verdict"], cwd=work,
                            capture_output=True, text=True)
    assert result.returncode == 0 and result.stdout.startswith("converged (tolerance_reached)"), result.stderr
