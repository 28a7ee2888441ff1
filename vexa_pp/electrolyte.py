"""The electrolyte a run simulates: its groups, salt and molality, and what
its diffusion coefficients say about it once the box is accounted for (the
finite-size correction, the Nernst-Einstein conductivity, proton hopping),
with its density checked against the salt's experimental one."""

from __future__ import annotations

import math
import re
from pathlib import Path

from . import lammps, physics, salts, water_models
from ._vexa_pp import (
    diffusion_adjustment,
    koh_gilliam_eval,
    laliberte_density,
    laliberte_viscosity,
    read_group_count,
    tau_calculator,
)
from .results import Conductivity, Corrections, DensityCheck, Hopping, Options, RunReport
from .run_files import LOG_NAME

KNOWN_IONS = tuple(physics.ION_CHARGES)
HOPPING_IONS = ("OH", "H3O")
_TEMPERATURE_NAMES = {"temp", "temperature", "thermo_temp"}
# A water model's viscosity stands for the run's within this many kelvin of
# where it was computed; beyond, the run is told that it does not.
MODEL_TEMPERATURE_SPAN = 5.0
# Pa s: a viscosity above this was most likely typed in mPa s.
THICK = 0.05
_GROUP_LINE = re.compile(r"^\s*(\d+) atoms in group (\S+)\s*$", re.MULTILINE)


def groups(report: RunReport, log: Path, options: Options) -> None:
    """The atoms of every group the log counts, and the molality of every ion
    group in mol per kg of solvent."""
    try:
        text = log.read_text(encoding="utf-8", errors="replace")
    except OSError as exc:
        report.problems.append(f"{log}: {exc.strerror or exc}")
        return
    logged: dict[str, int] = {}
    for count, name in _GROUP_LINE.findall(text):
        logged.setdefault(name, int(count))
    if not logged:
        report.notes.append(f"{LOG_NAME}: no group atom counts")
        return
    for name, count_line in logged.items():
        try:
            count = read_group_count(str(log), name)
        except OSError as exc:
            report.problems.append(str(exc))
            return
        except ValueError:
            # Its rule wants "group NAME" with one space; decks that align
            # their columns write more, and the count line says it all.
            count = count_line
        if count != count_line:
            # The lookup matches "group NAME" as a plain substring, so a
            # group named like the start of another can pick up its count.
            report.notes.append(f"{LOG_NAME}: group {name!r} has {count_line} atoms by its own "
                                f"line, not {count} as the first 'group {name}' suggests")
            count = count_line
        report.groups[name] = count

    solvent = report.groups.get(options.solvent_group)
    ions = options.ion_groups
    if ions is None:
        ions = tuple(n for n in report.groups if n in KNOWN_IONS or n in dict(options.charges))
    unknown = [n for n in ions if n not in report.groups]
    if unknown:
        report.notes.append(f"{LOG_NAME}: no group {', '.join(map(repr, unknown))}")
    if not solvent:
        report.notes.append(f"{LOG_NAME}: no atoms in the solvent group "
                            f"{options.solvent_group!r}; molality not computed")
        return
    report.solvent_group = options.solvent_group
    kilograms = solvent * options.solvent_molar_mass / 1000.0
    for name in ions:
        if name in report.groups:
            report.molality[name] = report.groups[name] / kilograms


def valence(group: str, charge: float | None) -> int | None:
    """The whole charge a salt's formula is written with: a scaled-charge
    model's ion (+0.85 e) is still the ion its name says, or the nearest
    whole charge of its sign."""
    if charge is None or charge.is_integer():
        return None if charge is None else int(charge)
    known = physics.ION_CHARGES.get(group)
    if known is not None and known * charge > 0:
        return known
    return int(math.copysign(max(1, round(abs(charge))), charge))


def salt(report: RunReport, options: Options) -> None:
    """The salt of the run's two ion groups, its molality, and the bundled
    parameters of it (or of --salt)."""
    charged = {g: valence(g, options.charge(g)) for g in report.molality}
    cations = [g for g, z in charged.items() if z is not None and z > 0]
    anions = [g for g, z in charged.items() if z is not None and z < 0]
    formula = None
    if len(cations) == 1 and len(anions) == 1:
        cation, anion = cations[0], anions[0]
        formula, per_salt, _ = physics.salt_formula(
            cation, charged[cation] or 0, anion, charged[anion] or 0)
        report.salt_molality = report.molality[cation] / per_salt
    try:
        found = salts.find_salt(options.salt) if options.salt else (
            salts.find_salt(formula) if formula else None)
    except salts.UnknownSalt as exc:
        if options.salt:
            report.problems.append(str(exc.args[0]))
        found = None
    if found is None:
        return
    report.salt = found.symbol
    report.salt_source = "--salt" if options.salt else "the ion groups"
    if options.salt and formula and formula.lower() != found.symbol.lower():
        report.notes.append(f"--salt {found.symbol}, but the ion groups make {formula}: "
                            f"the {found.symbol} models are taken at their molality")
    if report.salt_molality is None:
        report.notes.append(f"no single cation and anion group: the {found.symbol} models "
                            "need the salt's molality")


def corrections(report: RunReport, log: lammps.RunLog, options: Options) -> None:
    """Finite-size correction, Nernst-Einstein conductivity, proton hopping
    and the density check: each when what it rests on is known."""
    style = log.units
    temperature, source = options.temperature, "--temperature"
    if temperature is None:
        temperature, source = thermo_temperature(report)
    volume = None
    if report.volume is not None and style is not None:
        volume = report.volume.mean * style.volume
    elif log.box_edges is not None and style is not None and log.box_shape == "orthogonal":
        volume = math.prod(log.box_edges) * style.volume
        report.notes.append(f"volume from the box in {LOG_NAME} (no volume.dat)")
    bundled = salts.find_salt(report.salt) if report.salt else None
    molality = report.salt_molality
    if bundled is not None and molality is not None and temperature is not None:
        report.warnings += bundled.range_warnings(temperature, molality)
        _density_check(report, bundled, molality, temperature, style)
    if temperature is None or volume is None:
        if report.msd:
            report.notes.append("no temperature (thermodynamic table or --temperature) or no "
                                "volume: no finite-size correction or conductivity")
        return
    box_length = volume ** (1 / 3)
    if log.box_edges is not None and log.cubic_edge() is None:
        report.warnings.append(f"{LOG_NAME} shows a {report.box} box: the finite-size "
                               "correction takes L = V^(1/3), as for a cube")

    viscosity, viscosity_source, kind = _viscosity(report, bundled, molality, temperature,
                                                   options)
    shift = None
    if viscosity is None:
        if report.msd:
            report.notes.append("no viscosity (--viscosity, --water-model, or --salt for the "
                                "experimental one): no finite-size correction")
    else:
        shift = physics.finite_size_shift(temperature, viscosity, box_length)
        for fit in report.msd:
            if fit.ok:
                fit.finite_size = fit.diffusion + shift
    report.corrections = Corrections(temperature, source, volume, box_length, viscosity,
                                     viscosity_source, shift, kind)
    _conductivity(report, bundled, molality, options)


def _viscosity(report: RunReport, salt: salts.Salt | None, molality: float | None,
               temperature: float, options: Options) -> tuple[float | None, str | None,
                                                                str | None]:
    """The viscosity of the simulated liquid, what it is taken from and its kind."""
    if options.viscosity is not None:
        if options.viscosity > THICK:
            report.warnings.append(
                f"--viscosity {options.viscosity:g} Pa s is "
                f"{options.viscosity / water_models.experiment().viscosity:.0f} times real "
                f"water's: if mPa s was meant, write {options.viscosity:g}mPa.s")
        return options.viscosity, "--viscosity (the force field's)", "given"
    solution = None  # the salt's experimental viscosity, and its ratio to water's
    if salt is not None and molality is not None:
        (eta, water) = laliberte_viscosity([temperature] * 2, [molality, 0.0],
                                           salt.molecular_weight, *salt.viscosity)
        solution = eta, eta / water
    if options.water_model is not None:
        model = water_models.find_water_model(options.water_model)
        text = (f"{model.name} water{' (about)' if model.approximate else ''}, "
                f"{model.viscosity * 1e3:.3g} mPa s at {model.temperature:g} K: {model.source}")
        if abs(temperature - model.temperature) > MODEL_TEMPERATURE_SPAN:
            report.warnings.append(f"the {model.name} viscosity holds at {model.temperature:g} "
                                   f"K, the run is at {temperature:.2f} K: D∞ carries the "
                                   "difference (--viscosity takes the model's own value there)")
        if solution is None or salt is None:
            return model.viscosity, text, "water model"
        # Taken as thickened by the salt as real water is: the bundled models
        # are of pure water.
        return (model.viscosity * solution[1],
                f"{text}; times {solution[1]:.4g}, real {salt.symbol} solution over real water "
                f"at {molality:.4g} mol/kg, {temperature:.2f} K", "water model")
    if solution is None or salt is None:
        return None, None, None
    report.warnings.append("the finite-size correction takes the real solution's viscosity; "
                           "the simulated liquid's differs as its water model does ("
                           f"{water_models.how_models_differ()}); give --water-model or "
                           "--viscosity")
    return (solution[0], f"experimental, the real solution's: Laliberte model of "
            f"{salt.symbol} at {molality:.4g} mol/kg, {temperature:.2f} K", "experimental")


def thermo_temperature(report: RunReport) -> tuple[float | None, str]:
    """The mean of the first temperature column of a thermodynamic table."""
    for table, stats in report.thermo.items():
        for name, column in stats.items():
            bare = re.sub(r"^[cv]_|\[\d+\]$", "", name).lower()
            if bare in _TEMPERATURE_NAMES and math.isfinite(column.mean):
                return column.mean, f"mean of {name} in {table}"
    return None, ""


def _density_check(report: RunReport, salt: salts.Salt, molality: float, temperature: float,
                   style: lammps.UnitStyle | None) -> None:
    if report.density is None or style is None:
        return
    (model,), _ = laliberte_density([temperature], [molality], salt.molecular_weight,
                                    *salt.density)
    report.density_check = DensityCheck(salt.symbol, molality, temperature,
                                        report.density.mean * style.density,
                                        report.density.error * style.density, model)


def _conductivity(report: RunReport, salt: salts.Salt | None, molality: float | None,
                  options: Options) -> None:
    corrections = report.corrections
    assert corrections is not None
    fits = {f.group: f for f in reversed(report.msd) if f.group and f.ok}
    carriers = []
    for group in report.molality:
        charge = options.charge(group)
        if charge is None:
            report.notes.append(f"charge of group {group!r} unknown (--charge {group}=+1): "
                                "no conductivity")
            return
        if group not in fits:
            if report.msd:
                report.notes.append(f"no D of ion group {group!r}: no conductivity")
            return
        fit = fits[group]
        carriers.append((physics.Carrier(group, report.groups[group], charge, fit.diffusion,
                                         fit.error), fit.finite_size))
    if not carriers:
        return
    value, error = physics.nernst_einstein(corrections.volume, corrections.temperature,
                                           [c for c, _ in carriers])
    corrected = corrected_error = None
    if corrections.shift is not None:
        corrected, corrected_error = physics.nernst_einstein(
            corrections.volume, corrections.temperature,
            [physics.Carrier(c.group, c.count, c.charge, d, c.error) for c, d in carriers])
    experimental, source = options.experimental_conductivity, "--experimental-conductivity"
    if experimental is None and salt is not None and salt.conductivity == "koh-gilliam" \
            and molality is not None:
        (experimental,) = koh_gilliam_eval([corrections.temperature], [molality],
                                           salt.molecular_weight, *salt.density)
        source = (f"Gilliam model of {salt.symbol} at {molality:.4g} mol/kg, "
                  f"{corrections.temperature:.2f} K")
    report.conductivity = Conductivity(tuple(c for c, _ in carriers), value, error, corrected,
                                       corrected_error, experimental,
                                       source if experimental is not None else None)
    if options.hop_distance is not None:
        _hopping(report, report.conductivity, options.hop_distance)


def _hopping(report: RunReport, conductivity: Conductivity, hop_distance: float) -> None:
    corrections = report.corrections
    assert corrections is not None
    hopping = [c for c in conductivity.carriers if c.group in HOPPING_IONS]
    if conductivity.experimental is None or not hopping:
        report.notes.append("proton hopping needs an experimental conductivity (KOH, or "
                            "--experimental-conductivity) and a group "
                            f"{' or '.join(HOPPING_IONS)}")
        return
    md = conductivity.corrected if conductivity.corrected is not None else conductivity.value
    carrier = hopping[0]
    tau = tau_calculator(conductivity.experimental, md, corrections.temperature,
                         corrections.box_length, carrier.count, hop_distance)
    report.hopping = Hopping(carrier.group, carrier.count, hop_distance, md, tau,
                             diffusion_adjustment(tau, hop_distance))
