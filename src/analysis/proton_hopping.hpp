// Proton-hopping correction from the gap between measured and simulated
// conductivity. SI units throughout.
#pragma once

namespace vexa::analysis {

// Mean time between proton transfers: tau = d^2 e^2 N / (6 k T L^3 (s_exp - s_md)).
double tau_calculator(double experimental_conductivity, double md_conductivity, double temperature,
                      double box_length, double particle_count, double hop_distance);

// Diffusion coefficient of a carrier hopping hop_distance every time_between_hops.
double diffusion_adjustment(double time_between_hops, double hop_distance);

} // namespace vexa::analysis
