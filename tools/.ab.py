"""A/B: the landed module (base.so) against the working tree's, interleaved in one process."""
import ctypes, gc, glob, importlib.machinery, importlib.util, os, random, statistics, sys, time
M_TRIM_THRESHOLD, M_MMAP_MAX = -1, -4
libc = ctypes.CDLL("libc.so.6"); libc.mallopt(M_MMAP_MAX, 0); libc.mallopt(M_TRIM_THRESHOLD, 2**31 - 1)

def load(path):
    loader = importlib.machinery.ExtensionFileLoader("_vexa_pp", path)
    spec = importlib.util.spec_from_file_location("_vexa_pp", path, loader=loader)
    mod = importlib.util.module_from_spec(spec); loader.exec_module(mod); return mod
repo = os.environ["REPO"]
A = load(f"{repo}/.dev/ab/base.so")
B = load(glob.glob(f"{repo}/.dev/venv-plain/lib/python3.14/site-packages/vexa_pp/_vexa_pp*.so")[0])
rng = random.Random(1)
tmp = "/var/tmp/ab"; os.makedirs(tmp, exist_ok=True)
table = f"{tmp}/table.dat"
if not os.path.exists(table):
    with open(table, "w") as f:
        f.write("# title\n#Time a b c d e\n")
        for i in range(200_000):
            f.write(" ".join("%.8e" % (rng.random() * 1e-9) for _ in range(6)) + "\n")
thermo = f"{tmp}/thermo.dat"
if not os.path.exists(thermo):
    with open(table) as src, open(thermo, "w") as f:
        f.write("# t\n# a b c d e f\n"); src.readline(); src.readline(); f.write(src.read())
log = f"{tmp}/log.lammps"
if not os.path.exists(log):
    with open(log, "w") as f:
        for i in range(400_000): f.write(f"Step {i} Temp 300.0 Press 1.0 group xyz{i % 7} type 1\n")
        f.write("group water type 1 2\n335 atoms in group water\n")
NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
V = (16.2, 1.32, 1.48, 0.0074, 30.78, 2.05)
n = 200_000
T = [298.15 + rng.random() * 50 for _ in range(n)]; m = [rng.random() * 5 for _ in range(n)]
big = [rng.random() for _ in range(2_000_000)]
_, ys = B.laliberte_density([298.15] * 10_000, [rng.random() * 5 for _ in range(10_000)], *NACL)
tt = [(i + 1) * 1e-12 for i in range(1000)]
msd = [6e-9 * t + 1e-20 * (1 + rng.random()) for t in tt]
lim = [0.0, 0.5, 1.0, 2.0, 6.0]; co = [rng.random() for _ in range(40)]
cases = {
    "parse_vexa_file 20MB": lambda M: M.parse_vexa_file(table),
    "parse_thermoprop 20MB": lambda M: M.parse_thermoprop(thermo),
    "read_group_count 20MB": lambda M: M.read_group_count(log, "water"),
    "repacking_results 2e6 list": lambda M: M.repacking_results(big),
    "laliberte_density 2e5": lambda M: M.laliberte_density(T, m, *NACL),
    "laliberte_viscosity 2e5": lambda M: M.laliberte_viscosity(T, m, 58.44, *V),
    "koh_gilliam_eval 2e5": lambda M: M.koh_gilliam_eval(T, m, 56.1, *NACL[1:]),
    "molality_to_mass_fraction 2e6": lambda M: M.molality_to_mass_fraction(big, 58.44),
    "dewane_eval 2e5": lambda M: M.dewane_eval(m, lim, co),
    "molarity_to_molality 1e4": lambda M: M.molarity_to_molality(ys, 298.15, *NACL, 1e-10, 200),
    "diff_calculator n=1000": lambda M: M.diff_calculator(tt, msd, 0.1, 5, 500, 0.1, 0.0),
}
only = sys.argv[1:]
rounds = int(os.environ.get("ROUNDS", 15))
for name, f in cases.items():
    if only and not any(o in name for o in only): continue
    f(A); f(B)
    ta, tb = [], []
    for r in range(rounds):
        for M, acc in ((A, ta), (B, tb)) if r % 2 == 0 else ((B, tb), (A, ta)):
            gc.collect(); t0 = time.perf_counter(); f(M); acc.append(time.perf_counter() - t0)
    a, b = statistics.median(ta), statistics.median(tb)
    print(f"{name:32s} landed {a*1e3:9.3f} ms  now {b*1e3:9.3f} ms  now/landed {b/a:6.3f}", flush=True)
