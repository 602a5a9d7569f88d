#!/usr/bin/python3
"""Writes the package's bill of materials, CycloneDX 1.5 JSON: the product and its version,
the shipped executables and the package with their SHA-256, and every runtime component the
static links put into the executables, each with the Debian package (and its version) it
came from and its licence expression.

    write_sbom.py OUT.json VERSION EPOCH MSI EXE...

The components' files are found through the cross compiler, their packages and versions
through dpkg, so the list says what this machine linked."""
import datetime
import hashlib
import json
import os
import subprocess
import sys
import uuid
from urllib.parse import quote

COMPILER = "x86_64-w64-mingw32-g++-posix"
GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
# name, description, a file of it the links use, upstream version source, licence expression
COMPONENTS = [
    ("mingw-w64-crt", "mingw-w64 C runtime start-up and msvcrt import code", "libmingw32.a", "mingw",
     "ZPL-2.1 AND BSD-3-Clause AND LicenseRef-public-domain"),
    ("mingw-w64-headers", "mingw-w64 Windows API and C runtime headers", "../include/windows.h", "mingw",
     "ZPL-2.1 AND LicenseRef-public-domain"),
    ("winpthreads", "mingw-w64 POSIX threads library (std::thread, std::mutex)", "libwinpthread.a", "mingw",
     "MIT AND BSD-3-Clause"),
    ("libstdc++", "GNU C++ standard library", "libstdc++.a", "gcc", GCC_RUNTIME),
    ("libgcc", "GCC low-level runtime and unwinder (libgcc, libgcc_eh)", "libgcc.a", "gcc", GCC_RUNTIME),
    ("libssp", "GCC stack protector and checked string functions", "libssp.a", "gcc", GCC_RUNTIME),
]
PUBLIC_DOMAIN = "Parts of the mingw-w64 runtime are in the public domain (Debian's copyright file)."


def run(*args: str) -> str:
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout.strip()


def sha256(path: str) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def library_file(name: str) -> str:
    found = run(COMPILER, f"-print-file-name={name}")
    if os.path.isabs(found):
        return os.path.realpath(found)
    # Not one of the compiler's own: the mingw-w64 library folder.
    return os.path.realpath(os.path.join("/usr/x86_64-w64-mingw32/lib", name))


def debian_package(path: str) -> tuple[str, str]:
    owner = run("dpkg", "-S", path).split(":")[0]
    return owner, run("dpkg-query", "-W", "-f=${Version}", owner)


def upstream_version(debian_version: str) -> str:
    return debian_version.split("-")[0]


def file_component(path: str, kind: str) -> dict:
    name = os.path.basename(path)
    return {"type": kind, "bom-ref": f"file:{name}", "name": name,
            "hashes": [{"alg": "SHA-256", "content": sha256(path)}]}


def main() -> None:
    out, version, epoch, msi, exes = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5:]
    libraries = []
    for name, description, probe, _, licence in COMPONENTS:
        package, debian_version = debian_package(library_file(probe))
        libraries.append({
            "type": "library", "bom-ref": f"lib:{name}", "name": name,
            "version": upstream_version(debian_version), "description": description,
            "licenses": [{"expression": licence}],
            "purl": f"pkg:deb/debian/{package}@{quote(debian_version, safe='')}",
            "properties": [{"name": "debian:package", "value": package},
                           {"name": "debian:version", "value": debian_version}]
                          + ([{"name": "licence:note", "value": PUBLIC_DOMAIN}] if "public-domain" in licence else []),
        })
    executables = [file_component(exe, "application") for exe in exes]
    package = file_component(msi, "file")
    files = executables + [package]
    product = {"type": "application", "bom-ref": "product", "name": "Quillon Cryvane Core Service",
               "version": version, "supplier": {"name": "Quillon"}, "licenses": [{"expression": "LicenseRef-Quillon-proprietary"}]}
    content = "".join(f["hashes"][0]["content"] for f in files)
    bom = {
        "bomFormat": "CycloneDX", "specVersion": "1.5",
        "serialNumber": f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, 'quillon:cryvane:' + version + ':' + content)}",
        "version": 1,
        "metadata": {
            "timestamp": datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
            "component": product,
        },
        "components": files + libraries,
        "dependencies": [
            {"ref": "product", "dependsOn": [package["bom-ref"]]},
            {"ref": package["bom-ref"], "dependsOn": [e["bom-ref"] for e in executables]},
        ] + [{"ref": e["bom-ref"], "dependsOn": [l["bom-ref"] for l in libraries]} for e in executables]
          + [{"ref": l["bom-ref"], "dependsOn": []} for l in libraries],
    }
    with open(out, "w", encoding="utf-8") as f:
        json.dump(bom, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
