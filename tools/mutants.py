"""The mutants tools/mutate.py applies: small faults of the kinds a slip of
the hand makes (a comparison flipped, an operand order changed, a boundary
moved, a branch dropped), one or two per source file. Each names the text it
replaces, which must occur exactly once in its file."""

from dataclasses import dataclass


@dataclass(frozen=True)
class Mutant:
    name: str
    path: str
    before: str
    after: str
    what: str


def m(name, path, before, after, what):
    return Mutant(name, path, before, after, what)


MUTANTS = [
    # binding
    m("bind.were_parameters", "src/binding/bind.cpp", '(n == 1 ? " was" : " were")',
      '(p == 1 ? " was" : " were")', "the verb follows the parameters, not the arguments"),
    m("bind.list", "src/binding/bind.cpp", "(i + 1 == names.size() ? \", and \" : \", \")",
      "(i + 2 == names.size() ? \", and \" : \", \")", "the list's last separator misplaced"),
    m("bind.missing", "src/binding/bind.cpp",
      "      if (slots[i] == nullptr) missing.push_back(d.parameters[i]);",
      "      if (slots[i] == nullptr && i > 0) missing.push_back(d.parameters[i]);",
      "the first missing parameter left out of the message"),
    m("arguments.reserve_limit", "src/binding/arguments.cpp",
      "out.reserve(static_cast<std::size_t>(std::min(length, reserve_limit)));",
      "out.reserve(static_cast<std::size_t>(length));", "a lying __len__ trusted for reserving"),
    m("arguments.list_shrinks", "src/binding/arguments.cpp",
      "      out.push_back(value);\n      stop = std::min(chunk_end, PyList_GET_SIZE(list));",
      "      out.push_back(value);", "a list shrunk by an item's __float__ read past its end"),
    m("arguments.length_hint", "src/binding/arguments.cpp",
      "if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;",
      "if (!PyErr_ExceptionMatches(PyExc_BaseException)) return false;",
      "a failing __len__ no longer ignored"),
    m("errors.memory", "src/binding/errors.cpp",
      "    exception_class = PyExc_MemoryError;", "    exception_class = PyExc_OSError;",
      "MemoryError raised as OSError"),
    m("errors.none", "src/binding/errors.cpp", "  if (given == Py_None) {",
      "  if (given == nullptr) {", "None named by its type"),
    m("errors.note", "src/binding/errors.cpp",
      "    Ref added(PyObject_CallMethodOneArg(exception, method, note.get()));", "",
      "conversion errors lose their note"),
    m("results.signal", "src/binding/results.cpp",
      "    if (first != 0 && signal_raised()) return nullptr;",
      "    if (first != 0 && signal_raised()) break;",
      "an interrupted result returned half built"),
    # models
    m("density.order", "src/models/laliberte_density.hpp", "((c.c2 + w) + at.c3_t)",
      "(c.c2 + (w + at.c3_t))", "rounding order of a sum"),
    m("density.water_share", "src/models/laliberte_density.hpp",
      "(1.0 - w) / at.water_density", "(1.0 - w) / at.water_density * 1.0000001",
      "density off by 1e-7"),
    m("viscosity.mix", "src/models/laliberte_viscosity.cpp",
      "(std::pow(water, 1.0 - w) * std::pow(solute, w)) * 0.001",
      "std::pow(water, 1.0 - w) * (std::pow(solute, w) * 0.001)", "rounding order of a product"),
    m("viscosity.water", "src/models/laliberte_viscosity.cpp", "(t + 245.9996)", "(t + 246.0)",
      "a water-viscosity constant rounded"),
    m("koh.branch", "src/models/koh_conductivity.cpp", "    if (T < branch_temperature) {",
      "    if (T <= branch_temperature) {", "branch boundary moved"),
    m("dewane.segment", "src/models/dewane.cpp", "!(limits[j] < c && c <= limits[j + 1])",
      "!(limits[j] <= c && c <= limits[j + 1])", "lower segment end included"),
    m("dewane.limits", "src/models/dewane.cpp", "  if (limits.size() < 2)",
      "  if (limits.size() < 1)", "a single limit accepted"),
    # conversions
    m("composition.distributed", "src/conversions/composition.cpp", "    d = M * d;",
      "    d = M - M * f;", "the product distributed: other rounding"),
    m("composition.direct", "src/conversions/composition.cpp", "    out[i] = 1.0 / q;",
      "    out[i] = p / (1.0 + p);", "the direct form: other rounding, NaN at infinity"),
    # analysis
    m("statistics.finite", "src/analysis/statistics.cpp",
      "    if (!std::isfinite(x)) return;\n    sum += x;",
      "    if (std::isnan(x)) return;\n    sum += x;", "infinities counted in the mean"),
    m("statistics.population", "src/analysis/statistics.cpp",
      "const double variance = squares / n;", "const double variance = squares / (n - 1.0);",
      "sample instead of population variance"),
    m("statistics.peak_end", "src/analysis/statistics.cpp",
      "const Wide end = k > n ? 0 : n - k;", "const Wide end = k > n ? 0 : n - k + 1;",
      "the last candidate one place too far"),
    m("proton_hopping.association", "src/analysis/proton_hopping.cpp", "  b = b * c;",
      "  b = temperature * (six_boltzmann * c);", "the product of three regrouped"),
    m("proton_hopping.six", "src/analysis/proton_hopping.cpp",
      "const double b = time_between_hops * 6.0;", "const double b = time_between_hops * 3.0;",
      "one dimension short"),
    # common
    m("number_format.zeros", "src/common/number_format.cpp",
      "while (exponent.size() > 1 && exponent.front() == '0')",
      "while (exponent.size() > 0 && exponent.front() == '0')", "exponent 0 written empty"),
    m("number_format.fixed", "src/common/number_format.cpp", "std::chars_format::fixed, 2",
      "std::chars_format::fixed, 3", "three decimals"),
    m("number_format.sign", "src/common/number_format.cpp",
      "  if (exponent.front() == '-') out.push_back('-');", "",
      "negative exponents lose their sign"),
    m("interruption.never_asks", "src/common/interruption.hpp",
      "    left_ = interval_;\n    return interrupt_requested();",
      "    left_ = interval_;\n    return false;", "long loops in the bodies never ask to stop"),
    # readers that no other change touches
    m("single_values.count_overflow", "src/readers/single_values.cpp",
      "if (value > (UINT64_MAX - digit) / 10) return std::nullopt;",
      "if (value > UINT64_MAX / 10) return std::nullopt;", "count overflow check weakened"),
    m("single_values.headers", "src/readers/single_values.cpp",
      "if (lines.next(line) && lines.next(line)) {", "if (lines.next(line)) {",
      "one header line skipped instead of two"),
    m("single_values.second_field", "src/readers/single_values.cpp",
      "if (!fields.next(field) || !fields.next(field)) continue;",
      "if (!fields.next(field)) continue;", "value taken from the first field"),
    m("text_file.overlong", "src/readers/text_file.cpp", "      if (b0 == 0xE0) low = 0xA0;  // overlong\n",
      "", "three-byte overlong forms accepted"),
    m("text_file.surrogates", "src/readers/text_file.cpp",
      "      if (b0 == 0xED) high = 0x9F; // surrogates\n", "", "surrogate code points accepted"),
    m("text_file.two_byte", "src/readers/text_file.cpp", "if (b0 >= 0xC2 && b0 <= 0xDF) {",
      "if (b0 >= 0xC0 && b0 <= 0xDF) {", "two-byte overlong forms accepted"),
    m("property_tables.names_line", "src/readers/property_tables.cpp",
      "if (!lines.next(title) || !lines.next(names))",
      "if (!lines.next(title) || (!lines.next(names) && false))", "a one-line file accepted"),
    m("property_tables.fifth_line", "src/readers/property_tables.cpp",
      "      lines.rest().empty())", "      false)", "a four-line angle file accepted"),
    # python package
    m("physics.yeh_hummer", "vexa_pp/physics.py",
      "(6 * math.pi * viscosity * box_length)", "(6 * math.pi * viscosity)",
      "box length dropped from the finite-size shift"),
]
