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
    split("magneto-1- magneto-2- starter- running- rpm- boost-psi- coolant-degC- oil-temp-degF- power-hp- fuel-flow-pps-", per_engine, " ")
    for (t = 0; t < 6; t++) need("tank-gal-" t)
    for (n = 0; n < 4; n++) for (i in per_engine) need(per_engine[i] n)
    if (failures) exit 1
    next
}

# The engines' temperatures in degrees C: coolant and oil (JSBSim's in F).
function coolant(n) { return v("coolant-degC-" n) }
function oil(n) { return (v("oil-temp-degF-" n) - 32) / 1.8 }

{
    t = v("time-s")
    if (NR == 2) for (k = 0; k < 6; k++) first_gal[k] = v("tank-gal-" k)
    for (k = 0; k < 6; k++) last_gal[k] = v("tank-gal-" k)
    airborne = !on(v("wow-port")) && !on(v("wow-stbd")) && !on(v("wow-tail"))
    for (n = 0; n < 4; n++) {
        sparks = on(v("magneto-1-" n)) || on(v("magneto-2-" n))
        running = on(v("running-" n))
        if (NR == 2 && running) fail(sprintf("engine %d runs before it was started", n))
        if (running && !sparks && !ran_dark[n]++)
            fail(sprintf("engine %d runs with both magnetos off at %.1f s", n, t))
        if (on(v("starter-" n)) && !sparks && v("rpm-" n) > cranked_dark)
            cranked_dark = v("rpm-" n)
        # Started on its magnetos, every engine idles before the warm-up (45 s).
        if (t < 45) idle_rpm[n] = running ? v("rpm-" n) : 0
        # Take-off power waits for a warm engine: the warm-up stays below
        # atmospheric boost.
        if (!powered && running && v("boost-psi-" n) > 0) {
            powered = 1
            powered_at = t
            for (k = 0; k < 4; k++) {
                if (coolant(k) < 60 || oil(k) < 40)
                    fail(sprintf("engine %d at take-off power at %.1f s with coolant %.0f C, oil %.0f C: not warm (60, 40)", k, t, coolant(k), oil(k)))
                if (coolant(k) < cold_coolant || !k) cold_coolant = coolant(k)
                if (oil(k) < cold_oil || !k) cold_oil = oil(k)
            }
        }
        # At take-off and climbing power a pound of petrol an hour gives 1.7-2.2 hp.
        if (v("power-hp-" n) > 900) {
            bsfc = v("fuel-flow-pps-" n) * 3600 / v("power-hp-" n)
            if ((bsfc < 0.5 || bsfc > 0.7) && !bad_bsfc[n]++)
                fail(sprintf("engine %d burns %.2f lb/hp/h at %.0f hp at %.1f s, not 0.5-0.7", n, bsfc, v("power-hp-" n), t))
            if (v("boost-psi-" n) > 11.5) takeoff_gph = v("fuel-flow-pps-" n) * 3600 / 6
        }
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
        if (cranked_dark < 100 || cranked_dark > 150)
            fail(sprintf("an engine cranked with its magnetos off turned at %.0f rpm, not 100-150", cranked_dark))
        if (!powered) fail("no engine reached take-off power")
        for (k = 0; k < 4; k++)
            if (idle_rpm[k] < 450 || idle_rpm[k] > 750) fail(sprintf("engine %d idles at %.0f rpm, not 450-750", k, idle_rpm[k]))
        # The No.2 tanks feed first: each falls on its dial (whose last mark is
        # 310 gallons) by what two engines burn; the others keep their fuel.
        split("0 7 0 0 7 0", fall_min, " ")
        split("0 14 0 0 14 0", fall_max, " ")
        for (k = 0; k < 6; k++) {
            fell = first_gal[k] - last_gal[k]
            if (fell < fall_min[k + 1] - 0.01 || fell > fall_max[k + 1] + 0.01)
                fail(sprintf("tank %d fell %.2f gallons in the flight, not %d-%d", k, fell, fall_min[k + 1], fall_max[k + 1]))
        }
        if (first_gal[1] >= 310 || first_gal[4] >= 310)
            fail(sprintf("the No.2 tanks start at %.0f and %.0f gallons, beyond their dials' 310", first_gal[1], first_gal[4]))
        for (k = 0; k < 4; k++)
            if (coolant(k) < 90 || coolant(k) > 110 || oil(k) < 60 || oil(k) > 90)
                fail(sprintf("engine %d climbs with coolant %.0f C (90-110), oil %.0f C (60-90)", k, coolant(k), oil(k)))
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
    printf "fdm_takeoff: lift-off at %.1f kt, climbed %.0f ft, turned %.0f degrees with %s bank, an engine cranked without magnetos to %.0f rpm stayed stopped; take-off power at %.0f s with coolant %.0f C and oil %.0f C at the coldest, %.0f US gal/h an engine; the No.2 tanks fell %.1f and %.1f gallons\n",
        liftoff_kt, final_ft - liftoff_ft, turned, bank_sum < 0 ? "port" : "starboard", cranked_dark,
        powered_at, cold_coolant, cold_oil, takeoff_gph, first_gal[1] - last_gal[1], first_gal[4] - last_gal[4]
}
