"""The Debian package, built by CPack from the build folder: its file list (`dpkg-deb -c`) holds
the programs, the plug-in in its own directory, the manual pages, README, examples, copyright and
changelog in the Debian places, the service's unit and user, the live page's files under
/usr/share/px46tr-k/web, nothing from the tests; its fields carry the project's version, the
run-time dependencies of the linked libraries and of its postinst, and the chart library the page
loads (Debian's, not a copy). Its programs and libraries are stripped and name their debug files,
which the debug-symbols package beside it holds; its only maintainer scripts are the service's."""
import glob
import os
import re
import subprocess
import sys
import tempfile

build, version = sys.argv[1], sys.argv[2]
page_dir = os.path.join(sys.argv[3], "tools", "smd_host", "web", "page")

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
        r"\./usr/lib/[a-z0-9_]+-linux-gnu\w*/px46tr_k/libpx46tr_k\.so",
        r"\./usr/lib/[a-z0-9_]+-linux-gnu\w*/smd-host/libsmdhost\.so",
        r"\./usr/share/man/man1/smd-host\.1\.gz", r"\./usr/share/man/man1/px46tr_k-sim\.1\.gz",
        r"\./usr/share/doc/px46tr-k/README\.md", r"\./usr/share/doc/px46tr-k/examples/unicom\.yaml",
        r"\./usr/share/doc/px46tr-k/copyright", r"\./usr/share/doc/px46tr-k/changelog\.gz",
        r"\./usr/share/doc/px46tr-k/CONTRIBUTING\.md", r"\./usr/share/doc/px46tr-k/docs/architecture\.md",
        r"\./usr/lib/systemd/system/smd-host@\.service", r"\./usr/lib/sysusers\.d/px46tr-k\.conf",
    ] + [rf"\./usr/share/px46tr-k/web/{re.escape(f)}" for f in sorted(os.listdir(page_dir))]
    for pattern in expected:
        assert [f for f in files if re.fullmatch(pattern, f)], (pattern, sorted(files))
    examples = os.listdir(os.path.join(sys.argv[3], "examples"))
    pages = os.listdir(os.path.join(sys.argv[3], "docs"))
    # And nothing else (one example and one page are among the expected).
    assert len(files) == len(expected) - 2 + len(examples) + len(pages), sorted(files)

    def field(name):
        shown = subprocess.run(["dpkg-deb", "-f", packages[0], name], capture_output=True, text=True, timeout=30)
        return shown.stdout.strip()

    assert field("Package") == "px46tr-k" and field("Version") == version, (field("Package"), field("Version"))
    depends = field("Depends")
    # The postinst runs systemd-sysusers: a package that provides it.
    for library in (
        "libmodbus5", "libpcap0.8", "libjsoncpp", "libyaml-cpp", "libboost-program-options", "libcivetweb1", "libc6",
        "libjs-chart.js", "systemd | systemd-standalone-sysusers"
    ):
        assert library in depends, depends

    # Stripped objects, each naming its debug file, which the debug-symbols package holds under the
    # object's build id.
    unpacked = os.path.join(work, "unpacked")
    subprocess.run(["dpkg-deb", "-x", packages[0], unpacked], check=True, timeout=60)
    objects = [os.path.join(unpacked, f[2:]) for f in files if re.search(r"/bin/|\.so$", f)]
    assert len(objects) == 4, objects
    debug_files = glob.glob(f"{work}/px46tr-k-dbgsym_{version}_*.ddeb")
    assert len(debug_files) == 1, os.listdir(work)
    symbols = subprocess.run(["dpkg-deb", "-c", debug_files[0]], capture_output=True, text=True, timeout=30).stdout
    for path in objects:
        sections = subprocess.run(["readelf", "-S", "-n", "-W", path], capture_output=True, text=True,
                                  timeout=30).stdout
        assert ".debug_info" not in sections and ".symtab" not in sections, ("not stripped", path)
        assert ".gnu_debuglink" in sections, ("names no debug file", path)
        build_id = re.search(r"Build ID: ([0-9a-f]{2})([0-9a-f]+)", sections)
        assert build_id and f"/usr/lib/debug/.build-id/{build_id[1]}/{build_id[2]}.debug" in symbols, \
            (path, symbols)

    # The libraries live in private directories: nothing for ldconfig. The maintainer scripts are
    # the service's (its user, systemd's reload), executable; no conffile: nothing in /etc but the
    # empty folder of the site files.
    control = os.path.join(work, "control")
    subprocess.run(["dpkg-deb", "-e", packages[0], control], check=True, timeout=30)
    assert sorted(os.listdir(control)) == ["control", "md5sums", "postinst", "postrm"], os.listdir(control)
    for script in ("postinst", "postrm"):
        assert os.stat(os.path.join(control, script)).st_mode & 0o777 == 0o755, script
    assert not [f for f in files if f.startswith("./etc/")], sorted(files)
