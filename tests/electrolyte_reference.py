"""Plain-Python evaluations of the electrolyte models, operation for operation.

Python floats round like C doubles, so an evaluation in the same order gives
the same bits.  Where Python would raise instead of following IEEE 754
(division by zero, math.exp overflow, math.pow and math.log10 domain errors)
the C library functions are called through ctypes and the division is spelt
out.
"""

import ctypes
import ctypes.util
import math

from helpers import canon, inf, nan, sci

_libm = ctypes.CDLL(ctypes.util.find_library("m"))
for _name, _arity in (("exp", 1), ("log10", 1), ("pow", 2)):
    getattr(_libm, _name).restype = ctypes.c_double
    getattr(_libm, _name).argtypes = [ctypes.c_double] * _arity
exp, log10, pow_ = _libm.exp, _libm.log10, _libm.pow


def div(a, b):
    try:
        return a / b
    except ZeroDivisionError:
        if a != a or a == 0.0:
            return nan
        return math.copysign(inf, a) * math.copysign(1.0, b)


def sqrt(x):
    return nan if x < 0.0 else math.sqrt(x)


# exact comparison of one value or a list of them
bits = all_bits = canon


# ---- Laliberte density -----------------------------------------------------

def kell(t):
    p = -2.8054253e-10 * t + 1.0556302e-7
    p = p * t + (-4.6170461e-5)
    p = p * t + (-0.0079870401)
    p = p * t + 16.945176
    p = p * t + 999.83952
    return div(p, 0.01687985 * t + 1.0)


def density_point(T, m, mw, c0, c1, c2, c3, c4):
    t = T + (-273.15)
    x = mw * m
    w = div(x, x + 1000.0)
    rho_w = kell(t)
    e = exp(((c4 + t) * (c4 + t)) * 1e-6)
    v_app = div((c2 + w) + c3 * t, e * (c1 + c0 * w))
    rho = div(1.0, w * v_app + div(1.0 - w, rho_w))
    return rho, div(w * rho, mw)


def density(temperature, molality, mw, *c):
    points = [density_point(T, m, mw, *c) for T, m in zip(temperature, molality)]
    return [p[0] for p in points], [p[1] for p in points]


# ---- Laliberte viscosity ---------------------------------------------------

def water_viscosity(t):
    return div(t + 245.9996, (t * 0.055943 + 5.284245) * t + 137.3664)


def viscosity(temperature, molality, mw, v1, v2, v3, v4, v5, v6):
    out = []
    for T, m in zip(temperature, molality):
        t = T + (-273.15)
        x = m * mw
        w = div(x, x + 1000.0)
        eta_w = water_viscosity(t)
        eta_s = div(exp(div(v1 * pow_(w, v2) + v3, t * v4 + 1.0)), v5 * pow_(w, v6) + 1.0)
        out.append((pow_(eta_w, 1.0 - w) * pow_(eta_s, w)) * 0.001)
    return out


# ---- KOH conductivity ------------------------------------------------------

def koh_point(T, m, mw, *c):
    x = m * mw
    w = div(x, x + 1000.0)
    if T < 353.15:
        M = density_point(T, m, mw, *c)[1]
        s = M * (-2.041)
        s = s + M * (M * (-0.0028))
        s = T * (M * 0.005332) + s
        s = div(M * 207.2, T) + s
        s = M * (M * (M * 0.001043)) + s
        return (s - 3e-7 * ((T * M) * (T * M))) * 100.0
    P = w * 100.0
    s = P * 0.0022204
    s = s + P * (P * (-0.0013077))
    s = T * (P * 0.00033647) + s
    s = s + div(P * (-10.7021), T)
    s = P * (P * (P * 7.0101e-6)) + s
    return (s - 3.2033e-9 * ((T * P) * (T * P))) * 100.0


def koh(temperature, molality, mw, *c):
    return [koh_point(T, m, mw, *c) for T, m in zip(temperature, molality)]


# ---- Dewane segments -------------------------------------------------------

def dewane(molarity, limits, coeffs):
    """The conductivities, or the message of the error raised."""
    if len(limits) < 2:
        return "limits must have at least 2 values (defining at least 1 segment)"
    segments = len(limits) - 1
    if len(coeffs) != 10 * segments:
        return (f"coeffs must have exactly {10 * segments} values "
                f"({segments} segments \u00d7 10 coefficients)")
    out = []
    for c in molarity:
        j = next((j for j in range(segments) if limits[j] < c <= limits[j + 1]), None)
        if j is None:
            return (f"molarity {sci(c)} mol/L is outside Dewane bounds "
                    f"[{sci(limits[0])}, {sci(limits[-1])}]")
        L0, S, e, A, B, C, D, E, F, G = coeffs[10 * j:10 * j + 10]
        r = L0 - sqrt(c) * S
        r = r + log10(c) * (c * e)
        r = c * A + r
        r = pow_(c, 1.5) * B + r
        r = r + c * (c * C)
        r = pow_(c, 2.5) * D + r
        r = r + c * (c * (c * E))
        r = r + (((F * c) * c) * c) * c
        r = r + ((((c * G) * c) * c) * c) * c
        out.append((c * r) / 10.0)
    return out
