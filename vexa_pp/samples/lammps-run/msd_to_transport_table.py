"""Turn the run's mean-squared displacements into a transport table.

    python3 msd_to_transport_table.py MSD_FILE OUT_FILE TIMESTEP_FS

MSD_FILE is what `fix ave/time` wrote for the msd computes (a title line, a
'# TimeStep ...' names line, then rows of a step and one MSD per species in
square angstroms); TIMESTEP_FS is the run's timestep in femtoseconds. OUT_FILE
gets the '#Time' layout in SI units: time in seconds from the first row's
step, MSD in square metres.
"""

import sys

SPECIES = ["OW", "Na", "Cl"]  # the order of the msd computes in the deck
FS = 1e-15  # s
ANGSTROM2 = 1e-20  # m^2


def main(msd_path, out_path, timestep_fs):
    dt = float(timestep_fs) * FS
    rows = []
    with open(msd_path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.split()
            if len(fields) != 1 + len(SPECIES):
                raise ValueError(f"{msd_path}: unexpected row {line!r}")
            rows.append((int(fields[0]), [float(x) for x in fields[1:]]))
    if not rows:
        raise ValueError(f"{msd_path}: no rows")
    first = rows[0][0]
    with open(out_path, "w") as out:
        out.write("# Self-diffusion: mean-squared displacement per species (m^2) "
                  "against time (s)\n")
        out.write("#Time " + " ".join(f"MSD_{s}" for s in SPECIES) + "\n")
        for step, msd in rows:
            values = [(step - first) * dt] + [m * ANGSTROM2 for m in msd]
            out.write(" ".join(f"{v:.8e}" for v in values) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
