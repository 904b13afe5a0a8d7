#!/usr/bin/env python3
"""Prints the thrust and power coefficient tables of Korvane's propeller.

A blade-element and momentum estimate, not measured data: three blades of
constant chord and helical twist (the same geometric pitch at every radius),
a thin-aerofoil lift slope that stalls near 14 degrees and turns into a flat
plate beyond, and Prandtl's tip loss. The rows are the advance ratio J, the
columns the blade angle at 0.75 radius in degrees, as JSBSim's <table> wants
them. Run it again after changing the geometry and paste the output into
aircraft/korvane/Engines/korvane_propeller.xml.
"""
import math

BLADES = 3
CHORD_PER_DIAMETER = 0.07
HUB = 0.18                      # hub radius over tip radius
STATIONS = 40
ADVANCE = [round(0.1 * i, 1) for i in range(0, 31)]
PITCHES = list(range(10, 71, 5))


def section(alpha):
    """Lift and drag coefficients of the blade section at angle of attack alpha (radians)."""
    stall = math.radians(14.0)
    a = abs(alpha)
    if a <= stall:
        cl = 2.0 * math.pi * 0.9 * a
        cd = 0.010 + 0.9 * (cl - 0.3) ** 2 * 0.02
    else:
        # Past the stall the section blends into a flat plate within ten degrees.
        flat_cl = 1.1 * math.sin(2.0 * a)
        flat_cd = 0.02 + 1.8 * math.sin(a) ** 2
        peak = 2.0 * math.pi * 0.9 * stall
        w = min(1.0, (a - stall) / math.radians(10.0))
        cl = (1.0 - w) * peak * 0.85 + w * flat_cl
        cd = (1.0 - w) * (0.010 + 0.9 * (peak - 0.3) ** 2 * 0.02 + 0.05) + w * flat_cd
    return math.copysign(cl, alpha), cd


def station_loads(r, V, omega, beta, R):
    """Thrust and torque per unit span at radius r, with the axial inflow from momentum balance."""
    chord = CHORD_PER_DIAMETER * 2.0 * R

    def blade(v):
        axial = V + v
        tangential = omega * r
        phi = math.atan2(axial, tangential)
        w2 = axial * axial + tangential * tangential
        cl, cd = section(beta - phi)
        dT = 0.5 * w2 * BLADES * chord * (cl * math.cos(phi) - cd * math.sin(phi))
        dQ = 0.5 * w2 * BLADES * chord * (cl * math.sin(phi) + cd * math.cos(phi)) * r
        return phi, dT, dQ

    def residual(v):
        phi, dT, _ = blade(v)
        s = max(math.sin(abs(phi)), 1e-3)
        f = BLADES / 2.0 * (R - r) / (r * s)
        F = 2.0 / math.pi * math.acos(min(1.0, math.exp(-f)))
        F = max(F, 0.05)
        return 4.0 * math.pi * r * abs(V + v) * v * F - dT

    # The physical root is the first sign change above the windmilling limit.
    lo = -0.45 * V
    hi = omega * r
    steps = 400
    prev_v, prev_f = lo, residual(lo)
    root = None
    for i in range(1, steps + 1):
        v = lo + (hi - lo) * i / steps
        f = residual(v)
        if (prev_f <= 0.0) != (f <= 0.0):
            a, b, fa = prev_v, v, prev_f
            for _ in range(60):
                m = 0.5 * (a + b)
                fm = residual(m)
                if (fa <= 0.0) != (fm <= 0.0):
                    b = m
                else:
                    a, fa = m, fm
            root = 0.5 * (a + b)
            break
        prev_v, prev_f = v, f
    if root is None:
        root = 0.0
    _, dT, dQ = blade(root)
    return dT, dQ


def coefficients(J, pitch_75):
    R = 1.0
    D = 2.0 * R
    n = 1.0
    omega = 2.0 * math.pi * n
    V = J * n * D
    pitch_length = 2.0 * math.pi * 0.75 * R * math.tan(math.radians(pitch_75))
    T = Q = 0.0
    dr = (R - HUB * R) / STATIONS
    for i in range(STATIONS):
        r = HUB * R + (i + 0.5) * dr
        beta = math.atan2(pitch_length, 2.0 * math.pi * r)
        dT, dQ = station_loads(r, V, omega, beta, R)
        T += dT * dr
        Q += dQ * dr
    ct = T / (n * n * D ** 4)
    cp = 2.0 * math.pi * n * Q / (n ** 3 * D ** 5)
    return ct, cp


def main():
    table = {p: [coefficients(J, p) for J in ADVANCE] for p in PITCHES}
    for name, k in (("C_THRUST", 0), ("C_POWER", 1)):
        print(f'  <table name="{name}" type="internal">')
        print("    <tableData>")
        print("        " + "".join(f"{p:>9d}" for p in PITCHES))
        for j, J in enumerate(ADVANCE):
            print(f"    {J:4.1f}" + "".join(f"{table[p][j][k]:9.4f}" for p in PITCHES))
        print("    </tableData>")
        print("  </table>")


if __name__ == "__main__":
    main()
