import math

from hypothesis import given, settings
from hypothesis import strategies as st

from electrolyte_reference import div
from helpers import canon

E2 = 2.5669699665355694e-38   # elementary charge squared, C^2
SIX_K = 8.283894e-23           # six Boltzmann constants, J/K


def tau_model(sigma_exp, sigma_md, temperature, box, count, hop):
    a = hop * hop
    a = a * E2
    numerator = count * a
    b = temperature * SIX_K
    c = box * (box * box)
    b = b * c
    d = sigma_exp - sigma_md
    denominator = d * b
    return div(numerator, denominator)


def d_hop_model(tau, hop):
    return div(hop * hop, tau * 6.0)


def test_reference_values(module):
    assert module.diffusion_adjustment(1.0, 1.0) == 0.16666666666666666
    tau = module.tau_calculator(2.0, 1.0, 300.0, 1e-9, 1.0, 1e-10)
    assert tau == 1.0329159879542836e-11 == tau_model(2.0, 1.0, 300.0, 1e-9, 1.0, 1e-10)
    assert module.tau_calculator(1.0, 2.0, 300.0, 1e-9, 1.0, 1e-10) == -tau
    assert module.tau_calculator(2.0, 1.0, 300.0, 1e-9, 1, 1e-10) == tau
    assert module.tau_calculator(2, 1, 300, 1e-9, True, 1e-10) == tau


def test_division_edges(module):
    tau = module.tau_calculator
    assert tau(1.5, 1.5, 300.0, 1e-9, 1.0, 1e-10) == math.inf
    assert math.isnan(tau(1.5, 1.5, 300.0, 1e-9, 0.0, 1e-10))
    d_hop = module.diffusion_adjustment
    assert d_hop(0.0, 1e-10) == math.inf
    assert math.isnan(d_hop(0.0, 0.0))
    assert canon(d_hop(math.inf, 1e-10)) == (0.0, 1.0)
    assert d_hop(-1e-11, 1e-10) < 0


def test_hop_time_round_trip(module):
    args = (2.0, 1.0, 300.0, 1e-9, 1.0)
    expected = 1.380649e-23 * 300.0 * 1e-27 * 1.0 / (1.602176634e-19 ** 2 * 1.0)
    for hop in (1e-10, 3e-10, 2.5e-9):
        d_hop = module.diffusion_adjustment(module.tau_calculator(*args, hop), hop)
        assert math.isclose(d_hop, expected, rel_tol=1e-14)


floats = st.one_of(st.floats(), st.floats(1e-12, 1e3), st.floats(-1e-9, 1e-9))


@settings(max_examples=500, deadline=None)
@given(st.tuples(floats, floats, floats, floats, floats, floats))
def test_tau_calculator_bit_for_bit(module, args):
    assert canon(module.tau_calculator(*args)) == canon(tau_model(*args))


@settings(max_examples=500, deadline=None)
@given(floats, floats)
def test_diffusion_adjustment_bit_for_bit(module, tau, hop):
    assert canon(module.diffusion_adjustment(tau, hop)) == canon(d_hop_model(tau, hop))
