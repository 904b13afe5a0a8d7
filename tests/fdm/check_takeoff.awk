# Checks the take-off JSBSim flew (fdm/scripts/takeoff.xml) from its CSV output:
# prints one line of findings, or the failures on stderr and exits 1.
BEGIN { FS = ","; failures = 0 }

function need(caption) {
    if (!(caption in col)) fail("the output has no column \"" caption "\"")
    return col[caption]
}
function v(caption) { return $(col[caption]) + 0 }
function fail(message) { print "fdm_takeoff: " message > "/dev/stderr"; failures++ }
function on(x) { return x >= 0.5 }

NR == 1 {
    for (i = 1; i <= NF; i++) col[$i] = i
    split("time-s airspeed-kt pressure-altitude-ft bank-deg heading-deg turn-rate-rad_s wow-port wow-stbd wow-tail", shared, " ")
    for (i in shared) need(shared[i])
    split("magneto-1- magneto-2- starter- running- rpm- boost-psi-", per_engine, " ")
    for (n = 0; n < 4; n++) for (i in per_engine) need(per_engine[i] n)
    if (failures) exit 1
    next
}

{
    t = v("time-s")
    airborne = !on(v("wow-port")) && !on(v("wow-stbd")) && !on(v("wow-tail"))
    for (n = 0; n < 4; n++) {
        sparks = on(v("magneto-1-" n)) || on(v("magneto-2-" n))
        running = on(v("running-" n))
        if (NR == 2 && running) fail(sprintf("engine %d runs before it was started", n))
        if (running && !sparks && !ran_dark[n]++)
            fail(sprintf("engine %d runs with both magnetos off at %.1f s", n, t))
        if (on(v("starter-" n)) && !sparks && v("rpm-" n) > cranked_dark)
            cranked_dark = v("rpm-" n)
    }

    # By the time the take-off roll is under way every engine must run.
    if (!rolling && !airborne && v("airspeed-kt") > 20) {
        rolling = 1
        for (n = 0; n < 4; n++)
            if (!on(v("running-" n))) fail(sprintf("engine %d is not running at the start of the roll", n))
    }
    if (rolling && !lifted && !airborne && v("airspeed-kt") > 30)
        for (n = 0; n < 4; n++) {
            b = v("boost-psi-" n)
            if (b < 11.5 || b > 12.5) { if (!bad_boost[n]++) fail(sprintf("engine %d boost %.2f at %.1f s in the take-off roll, not +12", n, b, t)) }
        }
    if (rolling && !lifted && airborne) {
        lifted = 1
        liftoff_kt = v("airspeed-kt")
        liftoff_ft = v("pressure-altitude-ft")
    }
    if (lifted) {
        for (n = 0; n < 4; n++) {
            r = v("rpm-" n)
            # The governor may overshoot its 3,000 rpm by a fraction.
            if (r < 1800 || r > 3030) { if (!bad_rpm[n]++) fail(sprintf("engine %d at %.0f rpm in flight at %.1f s", n, r, t)) }
        }
        bank = v("bank-deg")
        heading = v("heading-deg")
        if (bank > 15 || bank < -15) {
            if (turning) {
                d = heading - last_heading
                if (d > 180) d -= 360
                if (d < -180) d += 360
                turned += d
            }
            turning = 1
            bank_sum += bank
            if (v("turn-rate-rad_s") * bank <= 0 && !bad_rate++)
                fail(sprintf("the turn rate and the bank disagree at %.1f s", t))
        } else {
            turning = 0
        }
        last_heading = heading
        final_ft = v("pressure-altitude-ft")
    }
}

END {
    if (NR < 2) fail("the output is empty")
    else {
        if (cranked_dark < 200) fail("no engine was cranked with its magnetos off")
        if (!rolling) fail("the aircraft never moved")
        if (!lifted) fail("the aircraft never left the ground")
        else {
            if (liftoff_kt < 95 || liftoff_kt > 110) fail(sprintf("lift-off at %.1f kt, not 95-110", liftoff_kt))
            if (final_ft - liftoff_ft < 1000) fail(sprintf("climbed only %.0f ft after lift-off", final_ft - liftoff_ft))
            if (turned * bank_sum <= 0 || (turned < 45 && turned > -45))
                fail(sprintf("turned %.0f degrees for a bank of sign %+d", turned, bank_sum > 0 ? 1 : -1))
        }
    }
    if (failures) exit 1
    printf "fdm_takeoff: lift-off at %.1f kt, climbed %.0f ft, turned %.0f degrees with %s bank, an engine cranked without magnetos to %.0f rpm stayed stopped\n",
        liftoff_kt, final_ft - liftoff_ft, turned, bank_sum < 0 ? "port" : "starboard", cranked_dark
}
