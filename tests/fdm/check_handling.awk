# Checks one of the handling flights (tests/fdm/handling/*.xml, or
# fdm/scripts/belly_landing.xml as `belly_landing`) from its CSV output,
# against the ranges a pilot would accept: prints each measure with its
# range, the ones outside on stderr, and exits 1 if any is.
#
#   awk -v flight=<script name without .xml> -f check_handling.awk <csv>
BEGIN {
    FS = ","
    # flight, what is measured, lowest and highest accepted
    range("pull", "peak pitch rate with the stick held fully back for 2 s at 155 kt, deg/s", 5, 16)
    range("pull", "peak load factor meanwhile, g", 2, 2.5)
    range("stall", "angle of attack at the most lift, rad", 0.2, 0.28)
    range("stall", "lift coefficient past 0.3 rad as a share of the most", 0.2, 0.8)
    range("stall", "port wing drop, deg of bank", 20, 120)
    range("stall", "buffet's warning: its start ahead of the most lift, kt", 3, 15)
    range("stall", "buffet's warning: its start ahead of the most lift, s", 1, 10)
    range("flaps", "pitch change in the 20 s after the flaps start up, deg", 0, 4)
    range("flaps", "least climb meanwhile, ft/min", 0, 3000)
    range("throttle", "boost away from a straight line between idle (0.22) and full lever at 5,000 ft, as lever", 0, 0.1)
    range("throttle", "boost away from a straight line between idle (0.22) and full lever in sea level's air, as lever", 0, 0.1)
    range("throttle", "boost at full lever, lbs/sq.in", 11.5, 12.5)
    range("throttle", "cold (oil near 16 C) at full lever: power lost to misfiring, share of the warm engine's", 0.06, 0.25)
    range("throttle", "cold at full lever: the tachometer's hunting, rpm from least to most", 20, 150)
    range("tail_wheel", "castoring: the wheel's slip, deg", 0, 1)
    range("tail_wheel", "castoring: the wheel away from where the rudder would steer it, deg", 5, 90)
    range("tail_wheel", "ground speed where the wheel locks again, kt", 27, 31)
    range("tail_wheel", "taxiing: the wheel's angle at full right rudder, deg", -20.5, -19.5)
    range("tail_wheel", "taxiing: turn rate to starboard at full right rudder, deg/s", 5, 30)
    range("belly_landing", "airframe on the ground (korvane/contact/belly)", 1, 1)
    range("belly_landing", "crashed (korvane/crashed)", 0, 0)
    range("belly_landing", "ground speed at the end, kt", 0, 1)
    for (n = 0; n < 4; n++)
        range("ground_run", "engine " n ": catches after its starter, s", 1.5, 5)
    range("ground_run", "rpm spread at the warm-up throttle, 0.33 (80 s), rpm", 10, 60)
    for (n = 0; n < 4; n++)
        range("ground_run", "engine " n ": warm-up at 0.33 throttle to oil 40 C, min", 2, 6)
    range("ground_run", "warm-up rpm (80 s), lowest", 1450, 1750)
    range("ground_run", "take-off power: most fuel per power, lb/hp/h", 0.55, 0.75)
    range("ground_run", "take-off power: least fuel per power, lb/hp/h", 0.55, 0.75)
    range("ground_run", "take-off roll to 90 kt: bank either way, deg", 0, 3)
    range("ground_run", "take-off roll to 90 kt: heading off the runway's, deg", 0, 5)
    range("ground_run", "take-off roll: speed reached, kt", 89, 200)
    if (!(flight in known)) { print "check_handling: no ranges for flight \"" flight "\"" > "/dev/stderr"; exit 2 }
}
function range(f, what, low, high) {
    known[f] = 1
    if (f != flight) return
    whats[++count] = what
    lo[what] = low
    hi[what] = high
}
function v(caption) {
    if (!(caption in col)) { print "check_handling: " FILENAME " has no column \"" caption "\"" > "/dev/stderr"; exit 2 }
    return $(col[caption]) + 0
}
function most(what, x) { if (!(what in m) || x > m[what]) m[what] = x }
function least(what, x) { if (!(what in m) || x < m[what]) m[what] = x }
function abs(x) { return x < 0 ? -x : x }
NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
{ t = v("t") }
flight == "pull" && t >= 8 && t <= 11 {
    most(whats[1], v("q") * 57.2958)
    most(whats[2], v("nz"))
}
flight == "stall" {
    cl = sqrt(v("cl2"))
    # the buffet's last onset before the most lift: the pull-up's own is no warning
    if (v("buffet") > 0 && !shaking) { onset_kt = v("kt"); onset_t = t }
    shaking = v("buffet") > 0
    if (cl > cl_most) { cl_most = cl; m[whats[1]] = v("alpha"); m[whats[4]] = onset_kt - v("kt"); m[whats[5]] = t - onset_t }
    if (v("alpha") > 0.3) most("past", cl)
    least("bank", v("bank"))
}
flight == "flaps" && t >= 45 && t <= 65 {
    if (!(whats[1] in m)) pitch = v("pitch")
    most(whats[1], abs(v("pitch") - pitch))
    least(whats[2], v("fpm") * 60)
}
flight == "throttle" {
    # the boost each lever setting settled at in each air, read just before the next
    setting = (v("air-psf") > 2000 ? 2 : 1) SUBSEP v("lever")
    if (NR > 2 && setting != last) settled[last] = boost
    last = setting; boost = v("boost")
    if (t >= 15 && t < 25) { cold_hp += v("hp"); cold_n++; most("rpm most", v("rpm")); least("rpm least", v("rpm")) }
    if (t >= 200 && v("oil-degF") >= 104) { warm_hp += v("hp"); warm_n++ }
}
flight == "tail_wheel" {
    fast = v("ground-fps") / 1.6878
    if (v("castered") >= 0.5 && v("tail-wow") >= 0.5) {
        most(whats[1], abs(v("slip-deg")))
        most(whats[2], abs(v("steer-deg") + 20 * v("rudder")))
    }
    if (v("castered") < 0.5 && !(whats[3] in m)) m[whats[3]] = fast
    if (v("castered") < 0.5 && v("rudder") >= 1 && fast > 5) {
        m[whats[4]] = v("steer-deg")
        least(whats[5], v("turn-rad_s") * 57.2958)
    }
}
flight == "belly_landing" {
    most(whats[1], v("belly"))
    most(whats[2], v("crashed"))
    m[whats[3]] = v("kt") / 1.6878
}
flight == "ground_run" {
    for (n = 0; n < 4; n++) {
        if (v("starter-" n) >= 0.5 && !(n in cranked)) cranked[n] = t
        if (v("running-" n) >= 0.5 && (n in cranked) && !(whats[1 + n] in m)) m[whats[1 + n]] = t - cranked[n]
        if (t >= 40 && v("oil-degF-" n) >= 104 && !(whats[6 + n] in m)) m[whats[6 + n]] = (t - 40) / 60
        if (v("boost-" n) > 11.5 && v("hp-" n) > 0) {
            bsfc = v("fuel-pps-" n) * 3600 / v("hp-" n)
            most(whats[11], bsfc)
            least(whats[12], bsfc)
        }
    }
    if (t >= 80 && !(whats[5] in m)) {
        low = high = v("rpm-0")
        for (n = 1; n < 4; n++) { r = v("rpm-" n); if (r < low) low = r; if (r > high) high = r }
        m[whats[5]] = high - low
        m[whats[10]] = low
    }
    if (t > 1 && v("brakes") < 0.5) {
        if (!rolling++) heading = v("heading")
        most(whats[13], abs(v("bank")))
        most(whats[14], abs(v("heading") - heading))
        m[whats[15]] = v("kt")
    }
}
END {
    if (flight == "throttle") {
        settled[last] = boost
        m[whats[3]] = boost
        for (key in settled) {
            split(key, air_lever, SUBSEP)
            air = air_lever[1]; l = air_lever[2]
            low = settled[air, 0.22]
            slope = (settled[air, 1] - low) / 0.78
            if (l >= 0.22) most(whats[air], abs(l - 0.22 - (settled[key] - low) / slope))
        }
        if (cold_n && warm_n) m[whats[4]] = 1 - (cold_hp / cold_n) / (warm_hp / warm_n)
        if (cold_n) m[whats[5]] = m["rpm most"] - m["rpm least"]
    }
    if (flight == "stall") {
        m[whats[2]] = m["past"] / cl_most
        m[whats[3]] = -m["bank"]
    }
    bad = 0
    for (i = 1; i <= count; i++) {
        w = whats[i]
        line = sprintf("%s: %s: %s (accepted %g to %g)", flight, w, (w in m) ? sprintf("%.4g", m[w]) : "never measured", lo[w], hi[w])
        if (!(w in m) || m[w] < lo[w] - 1e-9 || m[w] > hi[w] + 1e-9) { print line > "/dev/stderr"; bad++ }
        else print line
    }
    exit bad ? 1 : 0
}
