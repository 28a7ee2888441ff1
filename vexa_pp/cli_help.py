"""The long help texts of the command line: what each command reads, does and
prints, in the words its user needs."""

import textwrap

from . import salts

DESCRIPTION = """\
Post-processing of molecular-dynamics simulations of aqueous electrolytes:
transport coefficients and thermodynamics of LAMMPS runs, properties of salt
solutions, and the proton-hopping correction of a conductivity."""

ANALYZE_HELP = """\
Analyse the files that one or more simulation runs left in their directories:

  log.lammps         atoms per group, unit style, timestep, box, and which
                     group every msd compute follows; the molality of every
                     ion group per kg of solvent (the solvent group has one
                     atom per molecule, OW by default; an ion group, one atom
                     per ion)
  MSD files          LAMMPS fix ave/time of compute msd (any file name), read
                     as written: steps and lengths turned into SI with the
                     log's unit style and the timestep of the runs the fix
                     writing the file took part in (refused when it changes
                     between them or is not a number), columns named after
                     the computes' groups
  transport tables   diffself.dat, diffonsag.dat, viscosity.dat,
                     thermconductivity.dat or any .dat file with a '#Time'
                     header line; time in s, MSD in m^2
  *_prod.dat         thermodynamic table (LAMMPS fix ave/time): column means
                     with block-averaged standard errors
  volume.dat,        volume and density: mean ± standard error over all rows,
  density.dat        and the first row, in the units of the run's unit style
  *angle*.dat        bond-angle histogram (LAMMPS fix ave/histo): the peak of
                     every block and of their average
  trajectory         the log's dump (custom or atom, plain or .gz), else a
                     *.lammpstrj or *.dump[.gz] file: see vexa-pp msd --help;
                     its multi-origin D is the one the corrections, the
                     Nernst-Einstein conductivity and the summary take

Every MSD column is fitted over the window of rows whose log-log slope is
closest to 1 (diffusive motion), with a straight line through the MSD there;
the slope divided by 2 x DIMENSIONS is the self-diffusion coefficient D in
m^2/s. Its ± joins the regression's standard error and the sample standard
deviation of D over every window the search accepts (or over the two halves
of the chosen one, when it accepts fewer than three).

The window is chosen by its log-log slope, so the slope shown is near 1 by
construction and says nothing of the fit. On a long noisy run some short
window always comes close to 1 by chance, and on exact data the shortest,
earliest window wins a tie: the table gives the window's share of the rows,
and a share under 1 % is flagged. A larger --min-window (and --max-window)
fits over more of the run; the ± over windows shows how much the choice
matters.

With the run's temperature (thermodynamic table) and mean volume, and a
viscosity of the simulated liquid (--viscosity, or --water-model for the
bundled value of a water model; else, with a warning, the real solution's of
the salt the ion groups make, or of --salt), D is corrected for the periodic
box (Yeh-Hummer,
D_inf = D + 2.837297 k_B T / (6 pi eta L)); the ion groups' D, counts and
charges (--charge, else the data file's of the log's read_data, else the
common ion's) give the Nernst-Einstein conductivity, compared with the experimental
one where the bundled models have it (KOH); with --hop-distance the gap gives
the proton-hopping time. The run's density is checked against the salt's
Laliberte density.

A missing file is reported and skipped, and so is a FIFO or device, or a file
whose name is not UTF-8. Over several runs the mean, sample standard
deviation, standard error and count of each D, D_inf and Nernst-Einstein
conductivity are reported as well; failed fits drop out.

Exit status: 0 when everything found could be read, 1 when a run directory is
missing or empty, a file could not be read or parsed, a run failed, or a plot
failed (the rest is still reported), or no Dask scheduler answered
(--scheduler), 2 for wrong arguments, 130 when interrupted."""

MSD_HELP = """\
Self-diffusion over every time origin, the collective (Einstein-Helfand)
conductivity and the Haven ratio, from a LAMMPS text dump with unwrapped
positions (xu yu zu; or x y z with images, scaled, or wrapped alone).

Atom types form the groups of the log's 'group NAME type ...' commands whose
types the dump holds (a group that only joins others, as NaCl of Na and Cl,
is left out); --group NAME=TYPES replaces or adds one. The log also gives the
unit style and the timestep (or --units, --timestep) and the thermostat's
temperature (or --temperature).

The run is cut into 8 time blocks. D is the mean over the atoms and the
blocks of each one's slope / 6 over the window, which starts where the
group's MSD turns diffusive (log-log slope near 1) and ends at half a block.
Its ± is the 68 % interval (Student-t) from the spread of the blocks' D; the
spread over the atoms is shown beside it (smaller when atoms move together).
sigma_EH comes from the MSD of the total charge displacement, its ± from the
blocks and the three components; sigma_NE from the D, the Haven ratio is
sigma_NE / sigma_EH. Charges: --charge, else the one charge all of a group's
atoms carry in the data file of the log's read_data (for groups named like a
common ion, or by --ion-group), else the common ion's by group name."""

PROPS_HELP = """\
Density, molarity or molality, viscosity and, for KOH, electrical conductivity
of an aqueous salt solution, from the Laliberte density and viscosity models
(and the Gilliam conductivity model of KOH) with the bundled parameter table.
Every temperature is combined with every concentration. Molarities are turned
into molalities by inverting the density model; one below {dilute:g} mol/kg is taken
at infinite dilution (molality = molarity / density of water), with a note.

Salts and the sources of their parameters:
{sources}"""

HOP_HELP = """\
Proton-hopping correction: the mean time tau between proton transfers that
would account for the gap between the experimental and the simulated
conductivity of a box of N charge carriers,
    tau = delta^2 e^2 N / (6 k T L^3 (sigma_exp - sigma_md)),
and the diffusion coefficient of that hopping, D_hop = delta^2 / (6 tau)."""


def props_help() -> str:
    return PROPS_HELP.format(sources=_salt_sources(), dilute=salts.DILUTE)


def _salt_sources() -> str:
    """Every bundled salt with the sources of its parameters."""
    lines = []
    for symbol, salt in salts.salts().items():
        status = "" if salt.status == "published" else f" [{salt.status}]"
        lines.append(f"  {symbol} ({salt.name}){status}")
        for source in salt.sources:
            lines += textwrap.wrap(source, 78, initial_indent="    - ", subsequent_indent="      ")
    return "\n".join(lines)
