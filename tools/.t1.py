import time, math
from vexa_pp import _vexa_pp as m
NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
def t(label, f):
    t0=time.perf_counter(); r=f(); print(label, round(time.perf_counter()-t0,3)); return r
t("m2m 1e6 tol0", lambda: m.molarity_to_molality([1.0]*1_000_000, 298.15, *NACL, 0.0, 2**63))
t("m2m few tol0", lambda: m.molarity_to_molality([1.0, 3.0, 5.5], 298.15, *NACL, 0.0, 2**63))
t("m2m nan tol", lambda: m.molarity_to_molality([1.0, 3.0, 5.5], 298.15, *NACL, float('nan'), 2**63))
t("m2m neg tol", lambda: m.molarity_to_molality([1.0, 3.0, 5.5], 298.15, *NACL, -1.0, 2**63))
t("visc 1e7", lambda: m.laliberte_viscosity([298.15]*10**7, [1.0]*10**7, 58.44, 16.2, 1.32, 1.48, 0.0074, 30.78, 2.05))
n=150000
tt=[i*1e-12 for i in range(1,n+1)]; msd=[x*1e-9 for x in tt]
t("diffcalc 150k", lambda: m.diff_calculator(tt, msd, 0.0, 2, 2**64-1, 0.1, 0.0))
