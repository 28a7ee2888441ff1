import glob, importlib.machinery, importlib.util, os, sys
def load(path):
    loader = importlib.machinery.ExtensionFileLoader("_vexa_pp", path)
    spec = importlib.util.spec_from_file_location("_vexa_pp", path, loader=loader)
    mod = importlib.util.module_from_spec(spec); loader.exec_module(mod); return mod
repo = os.environ["REPO"]
which, case = sys.argv[1], sys.argv[2]
path = f"{repo}/.dev/ab/base.so" if which == "base" else f"{repo}/.dev/ab/now.so"
M = load(path)
NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
import random
rng = random.Random(1)
if case == "parse":
    tab = "/var/tmp/ab/small.dat"
    if not os.path.exists(tab):
        with open(tab, "w") as f:
            f.write("#Time a b c d e\n")
            for i in range(20000): f.write(" ".join("%.8e" % (rng.random() * 1e-9) for _ in range(6)) + "\n")
    M.parse_vexa_file(tab)
elif case == "frac":
    big = [rng.random() for _ in range(200_000)]
    M.molality_to_mass_fraction(big, 58.44)
elif case == "m2m":
    _, ys = M.laliberte_density([298.15] * 2000, [rng.random() * 5 for _ in range(2000)], *NACL)
    M.molarity_to_molality(ys, 298.15, *NACL, 1e-10, 200)
