"""What several test files share: exact comparison of results, the forms
numbers take in messages, the reference model of lines, white space and
numbers, and the catalogue of functions."""

import math
import os
import signal
import threading
import time
import warnings

import pytest

from vexa_pp import row_rule

nan, inf = math.nan, math.inf


def approx(expected, rel=1e-6, abs=0.0, **options):
    """pytest.approx without its absolute tolerance of 1e-12, under which any
    two values in SI units compare equal (D is about 1e-9 m^2/s, its error
    1e-11)."""
    return pytest.approx(expected, rel=rel, abs=abs, **options)


def canon(value):
    """Equal for equal results: floats told apart by the sign of zero, all
    NaNs alike, containers compared item by item (a dict in its order)."""
    if isinstance(value, float):
        return "nan" if value != value else (value, math.copysign(1.0, value))
    if isinstance(value, dict):
        return [(k, canon(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [canon(v) for v in value]
    if isinstance(value, tuple):
        return tuple(canon(v) for v in value)
    return value


def sci(value):
    """A number in the scientific form of messages."""
    if value != value:
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    mantissa, exponent = f"{value:.4e}".split("e")
    return f"{mantissa}e{int(exponent)}"


def fixed(value):
    """A number in the fixed form of messages."""
    if value != value:
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return f"{value:.2f}"


def outcome(fn, *args):
    """('ok', canonical result) or ('err', class, args), warnings silenced."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            return "ok", canon(fn(*args))
        except Exception as exc:  # noqa: BLE001 - the class is what is compared
            return "err", type(exc), exc.args


# ---- lines, white space and numbers, as the readers see them ------------------

# The package's own statement of the readers' rule is the tests' model of it.
fields_of, lines_of = row_rule.fields, row_rule.lines
NUMBER, WHITE_SPACE, number = row_rule.NUMBER, row_rule.WHITE_SPACE, row_rule.number


def write(path, content):
    with open(path, "wb") as f:
        f.write(content.encode("utf-8") if isinstance(content, str) else content)
    return str(path)


# ---- every function of the module, in registration order ----------------------

# Published Laliberte parameters of NaCl: density (Laliberte & Cooper,
# J. Chem. Eng. Data 49 (2004) 1141) and viscosity (Laliberte, J. Chem. Eng.
# Data 52 (2007) 321).
NACL_MW, KOH_MW = 58.443, 56.1056
NACL_DENSITY = DENSITY = (-0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
NACL_VISCOSITY = VISCOSITY = (16.222, 1.3229, 1.4849, 0.0074691, 30.78, 2.0583)
TIMES = [0.1 * (i + 1) for i in range(60)]
MSD = [6.0e-3 * t * (1.0 + 0.01 * ((i * 7) % 5 - 2)) for i, t in enumerate(TIMES)]
DEWANE = [10.0] + [0.0] * 9


def sample_files(folder):
    """One valid file per reader and the files every reader refuses."""
    contents = {
        "table": "# title\n#Time MSD\n0 0.0\n1 2.5\n",
        "thermo": "# title\n# Step Temp\n0 300.0\n10 301.5\n",
        "angle": "# t\n# s\n# Bin Coord Count Count/Total\n0 10 2\n1 104.5 3 0.5\n",
        "volume": "# t\n# TimeStep v_vol\n0 27000.5\n",
        "log": "group water type 1\n600 atoms in group water\n",
        "bad_utf8": b"#Time a\n\xff\n",
        "empty": "",
    }
    paths = {name: write(folder / name, text) for name, text in contents.items()}
    return paths | {"missing": str(folder / "missing.dat"), "directory": str(folder)}


def catalogue(files):
    """name -> (parameter names, valid arguments, argument lists the body
    refuses). A valid argument's type gives its parameter's kind: str is
    text, float is float, int is count, list is a float array."""
    refused = [[files[k]] for k in ("missing", "directory", "bad_utf8", "empty")] + [["a\0b"]]
    models = "temperature molality molecular_weight"
    one_array = lambda name, values: (f"{name} molecular_weight", [values, 58.44], [])  # noqa: E731
    table = {
        "parse_vexa_file": ("path", [files["table"]], refused),
        "parse_thermoprop": ("path", [files["thermo"]], refused),
        "parse_volume_density": ("path", [files["volume"]], refused),
        "parse_bond_angle": ("path", [files["angle"]], refused),
        "read_group_count": ("log_path group_name", [files["log"], "water"],
                             [[files["log"], "ions"], [files["missing"], "water"]]),
        "local_maximum_finder": ("data search_start neighbor_count",
                                 [[0.0, 1.0, 0.0, 2.0, 0.0], 0, 1], []),
        "repacking_results": ("d_array", [[1.0, 2.0, nan]], []),
        "diff_calculator": ("time msd_in margin min_window max_window max_error "
                            "min_displacement", [TIMES, MSD, 0.1, 3, 20, 0.5, 0.0], []),
        "laliberte_density": (f"{models} c0 c1 c2 c3 c4",
                              [[298.15, 310.0], [0.5, 1.0], 58.44, *DENSITY],
                              [[[298.15], [0.5, 1.0], 58.44, *DENSITY]]),
        "laliberte_viscosity": (f"{models} v1 v2 v3 v4 v5 v6",
                                [[298.15], [1.0], 58.44, *VISCOSITY],
                                [[[298.15], [], 58.44, *VISCOSITY]]),
        "mass_fraction_to_molality": one_array("mass_fraction", [0.1, 0.2]),
        "molality_to_mass_fraction": one_array("molality", [1.0]),
        "mole_fraction_to_molality": one_array("mole_fraction", [0.01]),
        "molality_to_mole_fraction": one_array("molality", [1.0]),
        "dewane_eval": ("molarity limits coeffs", [[0.5, 1.5], [0.0, 2.0], DEWANE],
                        [[[0.5], [0.0], DEWANE], [[0.5], [0.0, 2.0], [1.0]],
                         [[3.0], [0.0, 2.0], DEWANE]]),
        "koh_gilliam_eval": (f"{models} c0 c1 c2 c3 c4", [[298.15], [1.0], 56.1056, *DENSITY],
                             [[[298.15], [], 56.1056, *DENSITY]]),
        "molarity_to_molality": ("molarity temperature molecular_weight c0 c1 c2 c3 c4 "
                                 "tolerance maximum_iterations",
                                 [[1.0, 2.0], 298.15, 58.44, *DENSITY, 1e-12, 100],
                                 [[[1e6], 298.15, 58.44, *DENSITY, 1e-12, 100]]),
        "tau_calculator": ("experimental_conductivity md_conductivity temperature box_length "
                           "particle_count hop_distance", [2.0, 1.0, 300.0, 1e-9, 1.0, 1e-10], []),
        "diffusion_adjustment": ("time_between_hops hop_distance", [1.0, 1e-10], []),
    }
    return {name: (params.split(), valid, bad) for name, (params, valid, bad) in table.items()}


def writes_while_interrupted(fifo, head, chunk, read):
    """Feeds the FIFO from a Python thread (head once, then chunk over and
    over) while read(fifo) runs on this thread, and sends this thread SIGINT
    after 0.5 s: read must end with KeyboardInterrupt. Returns how many
    chunks the writer got out meanwhile (the reader left it room to run)."""
    os.mkfifo(fifo)
    written = []

    def writer():
        try:
            with open(fifo, "w") as out:
                out.write(head)
                while True:
                    out.write(chunk)
                    out.flush()
                    written.append(1)
                    time.sleep(0.001)
        except OSError:  # BrokenPipeError once the reader is gone
            pass

    threading.Thread(target=writer, daemon=True).start()
    timer = threading.Timer(0.5, signal.pthread_kill, (threading.get_ident(), signal.SIGINT))
    handler = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            read(fifo)
    finally:
        signal.signal(signal.SIGINT, handler)
        timer.cancel()
    return len(written)
