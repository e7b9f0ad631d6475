#!/usr/bin/env python3
"""Makes what a player downloads, in OUT_DIR:

  ValtheriaIII-PL-Update1.exe   the stripped exe (signed when a certificate is given)
  CZYTAJ.TXT                    the players' readme, Windows-1250 with CR LF
  LICENSE.TXT                   the licence, with CR LF
  ValtheriaIII-PL-Update1.zip   the three of them, with fixed times and order
  SHA256SUMS                    the SHA-256 of the four files above

  make-release.py STRIP BUILT_EXE README_UTF8 LICENSE OUT_DIR MTIME [PKCS12 PASSWORD_VAR]

MTIME is the release date (YYYY-MM-DD): its noon, UTC, is the exe's link
time and the time of every member of the zip. Signing reads
the certificate's password from the environment variable named PASSWORD_VAR
and hands it to osslsigncode on its standard input, so that it never appears
on a command line, in a log or in a file.
"""
import calendar
import hashlib
import os
import subprocess
import sys
import zipfile

EXE = "ValtheriaIII-PL-Update1.exe"
README = "CZYTAJ.TXT"
LICENSE = "LICENSE.TXT"
ZIP = "ValtheriaIII-PL-Update1.zip"


def sign(unsigned, signed, pkcs12, password_var):
    password = os.environ.get(password_var)
    if password is None:
        sys.exit(f"make-release: the environment variable {password_var} (the certificate's password) is not set")
    if os.path.exists(signed):
        os.remove(signed)
    subprocess.run(["osslsigncode", "sign", "-pkcs12", pkcs12, "-readpass", "/dev/stdin",
                    "-h", "sha256", "-n", "Valtheria III (PL) Update 1", "-in", unsigned, "-out", signed],
                   input=password.encode(), stdout=subprocess.DEVNULL, check=True)


def main():
    strip, built_exe, readme_source, license_source, out_dir, mtime = sys.argv[1:7]
    signing = sys.argv[7:9]
    os.makedirs(out_dir, exist_ok=True)
    exe = os.path.join(out_dir, EXE)
    year, month, day = (int(part) for part in mtime.split("-"))
    noon = (year, month, day, 12, 0, 0)

    # strip writes the time it runs into the PE header unless told a time.
    strip_env = dict(os.environ, SOURCE_DATE_EPOCH=str(calendar.timegm(noon)))
    stripped = exe + ".unsigned" if signing and signing[0] else exe
    subprocess.run([strip, "-o", stripped, built_exe], env=strip_env, check=True)
    if stripped != exe:
        sign(stripped, exe, *signing)
        os.remove(stripped)

    with open(readme_source, encoding="utf-8") as f:
        text = f.read()
    readme_bytes = text.replace("\n", "\r\n").encode("cp1250")
    with open(os.path.join(out_dir, README), "wb") as f:
        f.write(readme_bytes)

    with open(license_source, encoding="ascii") as f:
        license_bytes = f.read().replace("\n", "\r\n").encode("ascii")
    with open(os.path.join(out_dir, LICENSE), "wb") as f:
        f.write(license_bytes)

    with open(exe, "rb") as f:
        exe_bytes = f.read()
    with zipfile.ZipFile(os.path.join(out_dir, ZIP), "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in ((EXE, exe_bytes), (README, readme_bytes), (LICENSE, license_bytes)):
            member = zipfile.ZipInfo(name, noon)
            member.compress_type = zipfile.ZIP_DEFLATED
            member.create_system = 0  # MS-DOS: no Unix owner or mode bits
            z.writestr(member, data, compresslevel=9)

    with open(os.path.join(out_dir, "SHA256SUMS"), "w", newline="\n") as sums:
        for name in (EXE, README, LICENSE, ZIP):
            with open(os.path.join(out_dir, name), "rb") as f:
                sums.write(f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n")


main()
