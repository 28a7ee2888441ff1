"""Every function of vexa_pp called with typed values, for `mypy --strict`.

`assert_type` pins each result to the type the stub declares (the other
tests check the run-time types); the file also runs as a program.
"""

import math
from pathlib import Path
from typing import assert_type

import vexa_pp

RUN = Path(vexa_pp.__file__).parent / "samples" / "lammps-run"
NACL_MW = 58.443
NACL_DENSITY = (-0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
NACL_VISCOSITY = (16.222, 1.3229, 1.4849, 0.0074691, 30.78, 2.0583)


def readers() -> None:
    no_rows = vexa_pp.parse_vexa_file(str(RUN / "msd.lammps"))  # no '#Time' header line
    msd = vexa_pp.parse_thermoprop(str(RUN / "msd.lammps"))
    thermo = vexa_pp.parse_thermoprop(path=str(RUN / "nvt_prod.dat"))
    angles = vexa_pp.parse_bond_angle(str(RUN / "nvt_prod_angle.dat"))
    volume = vexa_pp.parse_volume_density(str(RUN / "volume.dat"))
    waters = vexa_pp.read_group_count(str(RUN / "log.lammps"), group_name="OW")
    assert_type(no_rows, dict[str, list[float]])
    assert_type(msd, dict[str, list[float]])
    assert_type(thermo, dict[str, list[float]])
    assert_type(angles, dict[str, list[float]])
    assert_type(volume, float)
    assert_type(waters, int)

    time: list[float] = [step * 2e-15 for step in msd["TimeStep"]]
    water = [value * 1e-20 for value in msd["c_msdOW[4]"]]
    d, t_fit, fit = vexa_pp.diff_calculator(time, water, 0.1, 10, 100, 0.1, 1e-10)
    assert_type(d, float)
    assert_type(t_fit, list[float])
    assert_type(fit, list[float])

    peak = vexa_pp.local_maximum_finder(angles["Count/Total"], 0, neighbor_count=2)
    mean, std, count = vexa_pp.repacking_results((d, math.nan, 2.5e-9))
    assert_type(peak, int)
    assert_type(mean, float)
    assert_type(std, float)
    assert_type(count, int)


def models() -> None:
    temperature = [298.15, 353.15]
    molality = [1.0, 2]  # ints are numbers too
    density, molarity = vexa_pp.laliberte_density(temperature, molality, NACL_MW, *NACL_DENSITY)
    viscosity = vexa_pp.laliberte_viscosity(temperature, molality, NACL_MW, *NACL_VISCOSITY)
    conductivity = vexa_pp.koh_gilliam_eval(temperature, molality, 56.1056, *NACL_DENSITY)
    dewane = vexa_pp.dewane_eval([0.5], limits=[0.0, 1.0], coeffs=[10.0] + [0.0] * 9)
    back = vexa_pp.molarity_to_molality(molarity[:1], 298.15, NACL_MW, *NACL_DENSITY,
                                        tolerance=1e-10, maximum_iterations=200)
    for result in (density, molarity, viscosity, conductivity, dewane, back):
        assert_type(result, list[float])


def conversions() -> None:
    fraction = vexa_pp.molality_to_mass_fraction([1.0], NACL_MW)
    mole = vexa_pp.molality_to_mole_fraction((1.0,), 18.015)
    from_mass = vexa_pp.mass_fraction_to_molality(fraction, NACL_MW)
    from_mole = vexa_pp.mole_fraction_to_molality(mole, molecular_weight=18.015)
    for result in (fraction, mole, from_mass, from_mole):
        assert_type(result, list[float])


def hopping() -> None:
    tau = vexa_pp.tau_calculator(2.0, 1.0, 300.0, 1e-9, particle_count=1, hop_distance=1e-10)
    d_hop = vexa_pp.diffusion_adjustment(time_between_hops=tau, hop_distance=1e-10)
    assert_type(tau, float)
    assert_type(d_hop, float)


def main() -> None:
    assert_type(vexa_pp.__version__, str)
    assert len(vexa_pp.__all__) == 19
    readers()
    models()
    conversions()
    hopping()
    print("typed example: ok")


if __name__ == "__main__":
    main()
