#!/usr/bin/env python3
"""Writes the temperature table data/bifuel-studio.dat.

The table holds one little-endian int16 per 10-bit sensor code (1024 entries, 2048 bytes),
the temperature in tenths of a degree Celsius that the ECU's converter reads at that code.

Sensor model: an NTC thermistor of the kind fitted to reducers and gas rails, 10 kOhm at
25 degrees C with Beta 3950 K, on the low side of a 2.2 kOhm pull-up resistor to the 5 V
reference of the 10-bit converter. 2.2 kOhm puts the steepest part of the curve around
60 degrees C, where a warm reducer runs and where the switch-over temperatures lie.

  code i  ->  V = i * 5 / 1023  ->  R = R_pull * V / (5 - V)  ->  T from the Beta equation

Codes near the rails (sensor shorted or open) are held to -40.0 .. 150.0 degrees C.

Usage: tools/make-temperature-table.py [output]   (default: data/bifuel-studio.dat)
"""

import math
import pathlib
import struct
import sys

# Sensor and circuit constants.
R25_OHM = 10_000.0      # NTC resistance at 25 degrees C
BETA_K = 3950.0         # NTC Beta constant
T25_K = 298.15          # 25 degrees C in kelvin
R_PULL_OHM = 2_200.0    # pull-up resistor to the reference
V_REF = 5.0             # converter reference, the top of the pull-up
CODES = 1024            # 10-bit converter: codes 0..1023 span 0..5 V
T_MIN_C = -40.0         # held here for open sensors
T_MAX_C = 150.0         # held here for shorted sensors


def temperature_c(code):
    """Temperature in degrees C at a converter code, held to T_MIN_C..T_MAX_C."""
    volts = code * V_REF / (CODES - 1)
    if volts <= 0.0:
        return T_MAX_C
    if volts >= V_REF:
        return T_MIN_C
    ohms = R_PULL_OHM * volts / (V_REF - volts)
    kelvin = 1.0 / (1.0 / T25_K + math.log(ohms / R25_OHM) / BETA_K)
    return min(max(kelvin - 273.15, T_MIN_C), T_MAX_C)


def table():
    return [round(temperature_c(code) * 10) for code in range(CODES)]


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "data" / "bifuel-studio.dat"
    values = table()
    # Higher temperature, lower resistance, lower code: the table must only fall.
    assert all(a >= b for a, b in zip(values, values[1:])), "table is not monotonic"
    out.write_bytes(struct.pack("<%dh" % CODES, *values))
    print("wrote %s (%d entries)" % (out, CODES))


if __name__ == "__main__":
    main()
