#!/usr/bin/python3
"""Reads orvanta-synth's ABI radiance files with satpy, a reader written by others from
NOAA's description, and checks that it sees what the generator put in: the radiances of the
counts, the scene's brightness temperatures and reflectances, and where each pixel lies.

Usage: abi_satpy_check.py ORVANTA_SYNTH
Exits 77 (skipped) when satpy or its helpers are not installed, 1 when a check fails.
"""
import csv
import glob
import math
import os
import subprocess
import sys
import tempfile
import warnings

SKIP = 77

try:
    import numpy as np
    import netCDF4
    import pyproj
    from satpy import Scene
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"skipped: {e}")
    sys.exit(SKIP)

warnings.filterwarnings("ignore")

# Runs of the generator: the mesoscale sector of three bands (one per resolution family:
# 0.5 km reflective, 14-bit and 12-bit emissive) from both sides of the continent, and a
# CONUS of the window band.
RUNS = [
    ["--abi", "G18,G16", "--abi-bands", "2,7,13", "--abi-sectors", "M1"],
    ["--abi", "G16", "--abi-bands", "13", "--abi-sectors", "C"],
]
GEO_TOLERANCE = 0.01  # degrees
KELVIN_TOLERANCE = 0.1
REFLECTANCE_TOLERANCE = 0.5  # percentage points

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def raw_file(path):
    nc = netCDF4.Dataset(path)
    nc.set_auto_maskandscale(False)
    return nc


def planck(nc, radiance):
    fk1, fk2, bc1, bc2 = (float(nc[n][...]) for n in ("planck_fk1", "planck_fk2", "planck_bc1", "planck_bc2"))
    with np.errstate(invalid="ignore", divide="ignore"):
        return (fk2 / np.log(fk1 / radiance + 1) - bc1) / bc2


def check_file(path, truth_dir, summary):
    name = os.path.basename(path)
    band = int(name.split("-M6C")[1][:2])
    emissive = band >= 7
    nc = raw_file(path)
    rad = nc["Rad"]
    raw = rad[...].view(np.uint16)
    dqf = nc["DQF"][...].view(np.uint8)
    fill = int(np.uint16(rad.getncattr("_FillValue")))
    scale, offset = float(rad.scale_factor), float(rad.add_offset)
    expected = np.where(raw == fill, np.nan, raw * scale + offset)

    scn = Scene(reader="abi_l1b", filenames=[path])
    ds = f"C{band:02d}"
    scn.load([ds], calibration="radiance")
    got = scn[ds].values
    nan_same = np.array_equal(np.isnan(got), np.isnan(expected))
    check(nan_same, f"{name}: satpy's no-data pixels differ from the fill value's")
    rad_err = float(np.nanmax(np.abs(got - expected)))
    check(rad_err <= 1e-6 * max(1.0, float(np.nanmax(np.abs(expected)))), f"{name}: radiance differs by {rad_err}")
    # satpy 0.39 masks the fill value only: pixels flagged out of range keep their radiance.
    flagged_finite = int(np.count_nonzero((dqf == 2) & np.isfinite(got)))
    no_value_finite = int(np.count_nonzero((dqf == 3) & np.isfinite(got)))
    check(no_value_finite == 0, f"{name}: {no_value_finite} pixels without value have a radiance")

    area = scn[ds].attrs["area"]
    crs = area.crs.to_dict()
    lon0 = float(nc["goes_imager_projection"].longitude_of_projection_origin)
    check(crs.get("proj") == "geos" and crs.get("sweep") == "x" and abs(float(crs.get("lon_0")) - lon0) < 1e-9,
          f"{name}: area projection {crs}")
    # The same projection as PROJ builds it from the file's own numbers.
    proj = nc["goes_imager_projection"]
    own = pyproj.CRS.from_dict({"proj": "geos", "h": float(proj.perspective_point_height), "lon_0": lon0,
                                "a": float(proj.semi_major_axis), "b": float(proj.semi_minor_axis), "sweep": "x"})
    to_geo = pyproj.Transformer.from_crs(own, own.geodetic_crs, always_xy=True)
    height = float(proj.perspective_point_height)
    xs = nc["x"][...] * np.float64(nc["x"].scale_factor) + np.float64(nc["x"].add_offset)
    ys = nc["y"][...] * np.float64(nc["y"].scale_factor) + np.float64(nc["y"].add_offset)

    cal = "brightness_temperature" if emissive else "reflectance"
    scn.load([ds], calibration=cal)
    values = scn[ds].values
    geo_err = proj_err = value_err = 0.0
    samples = 0
    with open(os.path.join(truth_dir, name[:-3] + ".csv")) as f:
        for row in csv.DictReader(f):
            c, r = int(row["column"]), int(row["row"])
            lon, lat = float(row["lon"]), float(row["lat"])
            if math.isnan(lon):
                check(raw[r, c] == fill and dqf[r, c] == 3, f"{name}: off-disc pixel {c},{r} has data")
                continue
            alon, alat = area.get_lonlat(r, c)
            geo_err = max(geo_err, abs(alat - lat), abs((alon - lon + 180) % 360 - 180))
            plon, plat = to_geo.transform(xs[c] * height, ys[r] * height)
            proj_err = max(proj_err, abs(plat - lat), abs((plon - lon + 180) % 360 - 180))
            if int(row["dqf"]) != 0:
                continue
            samples += 1
            truth = float(row["value"])
            if emissive:
                # Where a count spans more than the tolerance, half a count is what can be asked.
                count = int(row["count"])
                step = abs(planck(nc, (count + 0.5) * scale + offset) - planck(nc, (count - 0.5) * scale + offset))
                err = abs(values[r, c] - truth)
                value_err = max(value_err, err)
                check(err <= max(KELVIN_TOLERANCE, 0.5 * step + 1e-3), f"{name}: {c},{r} is {values[r, c]} K, scene {truth} K")
            else:
                err = abs(values[r, c] - 100.0 * truth)
                value_err = max(value_err, err)
                check(err <= REFLECTANCE_TOLERANCE, f"{name}: {c},{r} is {values[r, c]} %, scene {100 * truth} %")
    check(samples > 0, f"{name}: no sample on the disc")
    check(geo_err <= GEO_TOLERANCE, f"{name}: satpy's area puts pixels {geo_err} degrees away")
    check(proj_err <= GEO_TOLERANCE, f"{name}: PROJ puts pixels {proj_err} degrees away")
    start = scn[ds].attrs["start_time"].strftime("%Y%j%H%M%S")
    check(f"_s{start}" in name, f"{name}: satpy's start time {start}")
    summary.append(f"{name[:34]:34s} {raw.shape[1]:5d}x{raw.shape[0]:<5d} rad {rad_err:.1e} "
                   f"{'BT' if emissive else 'refl'} max {value_err:.3f} {'K' if emissive else '%'} ({samples} px) "
                   f"lonlat {geo_err:.1e} PROJ {proj_err:.1e} deg; DQF2 kept {flagged_finite}")
    nc.close()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    synth = sys.argv[1]
    summary = []
    with tempfile.TemporaryDirectory(prefix="orvanta-abi-") as tmp:
        out, truth = os.path.join(tmp, "out"), os.path.join(tmp, "truth")
        for run in RUNS:
            subprocess.run([synth, "--out", out, "--abi-truth", truth, "--start", "2019-06-21T21:00", "--seed", "7",
                            "--jobs", "2", "--quiet"] + run, check=True)
        files = sorted(glob.glob(os.path.join(out, "OR_ABI-L1b-Rad*.nc")))
        check(len(files) == 7, f"expected 7 files, found {len(files)}")
        for path in files:
            check_file(path, truth, summary)
    print("satpy abi_l1b reading orvanta-synth ABI files:")
    for line in summary:
        print("  " + line)
    for f in failures[:20]:
        print("FAIL: " + f)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
