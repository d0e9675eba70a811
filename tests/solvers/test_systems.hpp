#pragma once
// What the numerical tests share: every test case of the model problem, a deterministic
// pseudo-random five-point system coupled everywhere (also across row ends, where assembled
// systems carry zeros), and bit-level comparison of fields.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::testing {

struct CaseChoice {
    const char* name;
    int problem_kind, flow_angle, peclet_code;
};

inline const std::vector<CaseChoice>& all_cases() {
    static const std::vector<CaseChoice> cases = {
        {"angle0", 1, 0, 0},       {"diffusion", 1, 3, 0},      {"angle30", 1, 30, 0},
        {"angle45pe1", 1, 45, 1},  {"angle45pe2", 1, 45, 2},    {"angle45pe10", 1, 45, 10},
        {"angle45pe1000", 1, 45, 1000}, {"angle60", 1, 60, 0},  {"angle90", 1, 90, 0},
        {"rotating", 2, 0, 0},
    };
    return cases;
}
enum CaseIndex { kAngle0, kDiffusion, kAngle30, kPe1, kPe2, kPe10, kPe1000, kAngle60, kAngle90, kRotating };

inline model::ModelCase make_case(const CaseChoice& choice, double gamma) {
    SimulationSettings s;
    s.problem_kind = choice.problem_kind;
    s.flow_angle = choice.flow_angle;
    s.peclet_code = choice.peclet_code;
    s.gamma = gamma;
    return model::make_model_case(s);
}
inline model::ModelCase make_case(CaseIndex index, double gamma) { return make_case(all_cases()[index], gamma); }

inline model::StencilCoefficients assemble(const model::ModelCase& c, int Nx, int Ny) {
    model::StencilCoefficients a;
    a.resize(static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny));
    model::assemble_coefficients(c, Nx, Ny, a);
    return a;
}

// Linear congruential generator: the same numbers on every platform and run.
class Lcg {
public:
    explicit Lcg(std::uint64_t seed) : state_(seed * 2862933555777941757ULL + 3037000493ULL) {}
    double uniform(double lo, double hi) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return lo + (hi - lo) * (static_cast<double>(state_ >> 11) * 0x1.0p-53);
    }
    std::vector<double> field(std::size_t n, double lo = -1.0, double hi = 1.0) {
        std::vector<double> v(n);
        for (double& x : v) x = uniform(lo, hi);
        return v;
    }

private:
    std::uint64_t state_;
};

// Diagonally dominant, every coefficient non-zero, so every term of every formula reaches the result.
inline model::StencilCoefficients random_system(int Nx, int Ny, std::uint64_t seed) {
    Lcg rng(seed);
    model::StencilCoefficients a;
    a.resize(static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny));
    for (std::size_t k = 0; k < a.b.size(); ++k) {
        for (SizedField* f : {&a.aS, &a.aW, &a.aE, &a.aN}) (*f)[k] = rng.uniform(-1.0, -0.1);
        a.aP[k] = rng.uniform(4.5, 6.0);
        a.b[k] = rng.uniform(-2.0, 2.0);
    }
    return a;
}

// A random coupled system whose interior coefficients are one value for the arrays `uniform_mask`
// names (bits S, W, P, E, N); the boundary nodes keep random values, so a kernel that read a
// uniform value at a boundary node would show.
inline model::StencilCoefficients partly_uniform_system(int Nx, int Ny, unsigned uniform_mask, std::uint64_t seed) {
    model::StencilCoefficients a = random_system(Nx, Ny, seed);
    Lcg rng(seed + 1);
    SizedField* arrays[] = {&a.aS, &a.aW, &a.aP, &a.aE, &a.aN};
    for (int c = 0; c < 5; ++c) {
        if ((uniform_mask >> c & 1u) == 0) continue;
        const double v = c == 2 ? rng.uniform(4.5, 6.0) : rng.uniform(-1.0, -0.1);
        for (int j = 2; j <= Ny - 1; ++j)
            for (int i = 2; i <= Nx - 1; ++i) (*arrays[c])[node(i, j, Nx)] = v;
    }
    return a;
}
// None, the rotating flow's (east and north), every one, and a mix no test case gives.
inline constexpr unsigned kUniformMasks[] = {0u, 0x18u, 0x1Fu, 0x05u};

// Every system a kernel's paths are compared on: random coupled ones, partly uniform ones and
// every test case (gamma 0.1), named.
inline std::vector<std::pair<std::string, model::StencilCoefficients>> every_system(int Nx, int Ny) {
    std::vector<std::pair<std::string, model::StencilCoefficients>> systems;
    for (unsigned mask : kUniformMasks)
        systems.emplace_back("random, uniform mask " + std::to_string(mask),
                             partly_uniform_system(Nx, Ny, mask, 31u * Nx + Ny + mask));
    for (const CaseChoice& choice : all_cases()) systems.emplace_back(choice.name, assemble(make_case(choice, 0.1), Nx, Ny));
    return systems;
}

// The coefficients `a` of an Nx x Ny grid prepared for solver_kind, and scratch for its kernels.
inline solvers::GridSystem system_of(const model::StencilCoefficients& a, int Nx, int Ny, int solver_kind) {
    solvers::GridSystem s;
    s.coefficients = a;
    s.prepare({Nx, Ny}, solver_kind);
    return s;
}
inline solvers::Scratch scratch_for(int Nx, int Ny, int solver_kind) {
    solvers::Scratch scratch;
    scratch.prepare({Nx, Ny}, solver_kind);
    return scratch;
}

// Bit equality, +0 and -0 counted as equal.
inline bool same_bits(double x, double y) {
    std::uint64_t bx, by;
    std::memcpy(&bx, &x, sizeof x);
    std::memcpy(&by, &y, sizeof y);
    return bx == by || (x == 0.0 && y == 0.0);
}

// Empty when the fields agree to the last bit, otherwise the first difference.
inline std::string bit_difference(std::span<const double> expected, std::span<const double> actual) {
    if (expected.size() != actual.size()) return "sizes differ";
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (same_bits(expected[k], actual[k])) continue;
        char text[120];
        std::snprintf(text, sizeof text, "0-based node %zu: expected %.17g, got %.17g", k, expected[k], actual[k]);
        return text;
    }
    return {};
}

}  // namespace advdiff::testing
