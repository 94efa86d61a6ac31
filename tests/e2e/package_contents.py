"""The Debian package, built by CPack from the build folder: its file list (`dpkg-deb -c`) holds
the programs, the plug-in in its own directory, the manual pages, README and examples in the Debian
places, nothing from the tests; its fields carry the project's version and the run-time
dependencies of the linked libraries."""
import glob
import os
import re
import subprocess
import sys
import tempfile

build, version = sys.argv[1], sys.argv[2]

with tempfile.TemporaryDirectory() as work:
    made = subprocess.run(["cpack", "-G", "DEB", "--config", f"{build}/CPackConfig.cmake", "-B", work],
                          capture_output=True, text=True, timeout=300)
    assert made.returncode == 0, made.stdout + made.stderr
    packages = glob.glob(f"{work}/*.deb")
    assert len(packages) == 1, packages
    listing = subprocess.run(["dpkg-deb", "-c", packages[0]], capture_output=True, text=True, timeout=30)
    assert listing.returncode == 0, listing.stderr
    files = {line.split()[-1] for line in listing.stdout.splitlines() if not line.startswith("d")}
    expected = [
        r"\./usr/bin/smd-host", r"\./usr/bin/px46tr_k-sim",
        r"\./usr/lib/(\S+/)?px46tr_k/libpx46tr_k\.so", r"\./usr/lib/(\S+/)?smd-host/libsmdhost\.so",
        r"\./usr/share/man/man1/smd-host\.1\.gz", r"\./usr/share/man/man1/px46tr_k-sim\.1\.gz",
        r"\./usr/share/doc/px46tr-k/README\.md", r"\./usr/share/doc/px46tr-k/examples/unicom\.yaml",
    ]
    for pattern in expected:
        assert [f for f in files if re.fullmatch(pattern, f)], (pattern, sorted(files))
    examples = os.listdir(os.path.join(sys.argv[3], "examples"))
    assert len(files) == len(expected) - 1 + len(examples), sorted(files)  # and nothing else

    def field(name):
        shown = subprocess.run(["dpkg-deb", "-f", packages[0], name], capture_output=True, text=True, timeout=30)
        return shown.stdout.strip()

    assert field("Package") == "px46tr-k" and field("Version") == version, (field("Package"), field("Version"))
    depends = field("Depends")
    for library in ("libmodbus5", "libjsoncpp", "libyaml-cpp", "libboost-program-options", "libc6"):
        assert library in depends, depends
