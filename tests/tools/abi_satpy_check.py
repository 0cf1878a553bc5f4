#!/usr/bin/python3
"""Reads orvanta-synth's ABI radiance files with satpy, a reader written by others from
NOAA's description, and checks that it sees what the generator put in: the radiances of the
counts, the scene's brightness temperatures and reflectances, and where each pixel lies.
Given the station too, it makes each file into images and checks them against satpy: the
greys read back as temperatures or reflectances, and where the GeoTIFF puts each pixel.

Usage: abi_satpy_check.py ORVANTA_SYNTH [ORVANTA]
Exits 77 (skipped) when satpy or its helpers are not installed, 1 when a check fails.
"""
import csv
import datetime
import glob
import math
import os
import shutil
import subprocess
import sys
import tempfile
import warnings

SKIP = 77

try:
    import numpy as np
    import netCDF4
    import pyproj
    from osgeo import gdal
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

# The station's 2 km fixed grid: the scan angle of pixel i's centre.
GRID_ORIGIN, GRID_STEP = -0.151844, 56e-6


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


def kelvin_grey(kelvin):
    """The grey of the station's infrared scale a temperature gets (two greys a kelvin above
    242 K, one below, 255 below 180 K), unrounded, and the grey a temperature stands for."""
    scaled = np.where(kelvin <= 242.0, 418.0 - kelvin, 660.0 - 2.0 * kelvin)
    return np.where(kelvin < 180.0, 255.0, np.clip(scaled, 0.0, None))


def grey_kelvin(grey):
    grey = grey.astype(np.float64)
    return np.where(grey <= 176, (660.0 - grey) / 2.0, 418.0 - grey)


def station(orvanta, tmp):
    """A station's settings: PNG (lossless) and GeoTIFF, no gamma, nothing drawn over."""
    root = os.path.join(tmp, "station")
    for d in ("in", "raw", "img", "config/Quillon"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    values = {"SourcePath": f'"{root}/in/"', "NetCDFPath": f'"{root}/raw/"', "SavePath": f'"{root}/img/"',
              "SaveAsJPEG": "dword:00000000", "SaveAsPNG": "dword:00000001", "SaveAsGeoTIFF": "dword:00000001",
              "GammaVisual": "dword:00000000", "Boundaries": "dword:00000000", "ImageStamp": "dword:00000000",
              "AbiBands": '"2,7,13"'}
    with open(os.path.join(root, "config/Quillon/registry.reg"), "w") as f:
        f.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\n")
        f.writelines(f'"{k}"={v}\n' for k, v in values.items())
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(root, "config"), XDG_STATE_HOME=os.path.join(root, "state"))
    return root, env


def check_orvanta(orvanta, root, env, path, summary):
    name = os.path.basename(path)
    band = int(name.split("-M6C")[1][:2])
    satellite = name.split("_G")[1][:2]
    emissive = band >= 7
    incoming = os.path.join(root, "in", name)
    shutil.copy(path, incoming)
    done = subprocess.run([orvanta, "--headless", incoming], env=env, capture_output=True, text=True)
    check(done.returncode == 0, f"{name}: the station did not make it: {done.stdout[-400:]}")
    if done.returncode != 0:
        return
    nc = raw_file(path)
    raw = nc["Rad"][...].view(np.uint16)
    dqf = nc["DQF"][...].view(np.uint8)
    fill = int(np.uint16(nc["Rad"].getncattr("_FillValue")))
    xs = nc["x"][...] * np.float64(nc["x"].scale_factor) + np.float64(nc["x"].add_offset)
    ys = nc["y"][...] * np.float64(nc["y"].scale_factor) + np.float64(nc["y"].add_offset)
    factor = round(GRID_STEP / abs(xs[1] - xs[0]))
    column = round((xs[:factor].mean() - GRID_ORIGIN) / GRID_STEP)
    line = round((-GRID_ORIGIN - ys[:factor].mean()) / GRID_STEP)
    slot = name.split("_s")[1]
    stamp = datetime.datetime.strptime(slot[:11], "%Y%j%H%M").strftime("%Y/%m/%d/%Y%m%d%H")
    minute = int(slot[9:11]) // 10 * 10
    stem = os.path.join(root, "img", f"{stamp}{minute:02d}-g{satellite}-c{band:02d}")
    grey = gdal.Open(stem + ".png").ReadAsArray()
    height, width = raw.shape[0] // factor, raw.shape[1] // factor
    window = grey[line:line + height, column:column + width]

    scn = Scene(reader="abi_l1b", filenames=[path])
    ds = f"C{band:02d}"
    scn.load([ds], calibration="brightness_temperature" if emissive else "reflectance")
    values = scn[ds].values.astype(np.float64)
    # What the station counts as data: neither the fill value nor DQF 2 or 3.
    usable = (raw != fill) & (dqf <= 1) & np.isfinite(values)
    blocks = lambda a: a.reshape(height, factor, width, factor).sum(axis=(1, 3))
    used = blocks(usable.astype(np.float64))
    mean = np.divide(blocks(np.where(usable, values, 0.0)), used, out=np.zeros_like(used), where=used > 0)
    held = used > 0
    if emissive:
        # The grey satpy's temperature gets, rounded half up; within a hundredth of a half
        # either grey will do (satpy calibrates in single precision).
        scaled = kelvin_grey(mean)
        rounded = np.floor(scaled + 0.5)
        edge = np.abs(scaled - np.floor(scaled) - 0.5) < 0.01
        bad = held & (window != rounded) & ~(edge & (np.abs(window - scaled) < 0.51))
        worst = float(np.max(np.where(held & (window < 255), np.abs(grey_kelvin(window) - mean), 0.0)))
    else:
        # Band 1's scale without gamma: a grey of g stands for g * 80 / 255 % up to the next.
        scaled = mean * 255.0 / 80.0
        bad = held & (window < 255) & ((scaled < window - 1e-3) | (scaled >= window + 1 + 1e-3))
        bad |= held & (window == 255) & (scaled < 255 - 1e-3)
        worst = float(np.max(np.where(held & (window < 255), np.abs(scaled - window - 0.5), 0.0))) * 80.0 / 255.0
    check(not bad.any(), f"{name}: {int(bad.sum())} of {int(held.sum())} greys disagree with satpy")

    # Where the GeoTIFF puts the window's pixels, against satpy's area (2 km files: the same pixels).
    tif = gdal.Open(stem + ".tif")
    gt = tif.GetGeoTransform()
    crs = pyproj.CRS.from_wkt(tif.GetProjection())
    area = scn[ds].attrs["area"]
    same = {k: crs.to_dict().get(k) for k in ("proj", "sweep", "lon_0", "h")} == \
        {k: area.crs.to_dict().get(k) for k in ("proj", "sweep", "lon_0", "h")}
    check(same, f"{name}: the GeoTIFF's projection {crs.to_dict()} is not satpy's {area.crs.to_dict()}")
    geo_err = 0.0
    if factor == 1:
        to_geo = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
        for r in range(0, height, max(1, height // 16)):
            for c in range(0, width, max(1, width // 16)):
                alon, alat = area.get_lonlat(r, c)
                if not np.isfinite(alon):
                    continue
                lon, lat = to_geo.transform(gt[0] + (column + c + 0.5) * gt[1], gt[3] + (line + r + 0.5) * gt[5])
                geo_err = max(geo_err, abs(alat - lat), abs((alon - lon + 180) % 360 - 180))
        check(geo_err <= 1e-4, f"{name}: the GeoTIFF puts pixels {geo_err} degrees from satpy's")
    summary.append(f"{name[:34]:34s} station greys vs satpy: worst {worst:.3f} {'K' if emissive else '%'} "
                   f"over {int(held.sum())} px at ({column},{line}); GeoTIFF lonlat {geo_err:.1e} deg")
    nc.close()


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        return 2
    synth = sys.argv[1]
    orvanta = sys.argv[2] if len(sys.argv) == 3 else None
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
        if orvanta:
            root, env = station(orvanta, tmp)
            for path in files:
                check_orvanta(orvanta, root, env, path, summary)
    print("satpy abi_l1b reading orvanta-synth ABI files:")
    for line in summary:
        print("  " + line)
    for f in failures[:20]:
        print("FAIL: " + f)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
