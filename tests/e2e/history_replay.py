"""--history records every published record; --dump shows each as its snapshot; --replay feeds
them through LoadFromCache and gives the same snapshots; a torn last record is left out."""
import csv
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

runner = sys.argv[1]


def run(work, *args, check=True):
    done = subprocess.run([runner, *args], cwd=work, capture_output=True, text=True, timeout=60)
    if check:
        assert done.returncode == 0, (args, done.returncode, done.stderr)
    return done


def dump(work, history, index):
    return json.loads(run(work, "--dump", history, "--index", str(index)).stdout)


def without_time(snapshot):
    return {k: v for k, v in snapshot.items() if k != "更新时间"}


with tempfile.TemporaryDirectory() as work:
    run(work, "--rounds", "3", "--history", "polled.bin", "--set", "4247=215",
        "--set-at", "2:4247=226", "--set-at", "3:7433=16", "--set-at", "3:4099=3")
    assert os.path.getsize(os.path.join(work, "polled.bin")) == 3 * (8 + 3921 + 4)
    polled = [dump(work, "polled.bin", i) for i in range(3)]
    assert [s["环境温度"] for s in polled] == [21.5, 22.600000381469727, 22.600000381469727], polled
    assert polled[2]["出线支路05电流越上线"] == "告警" and polled[2]["AlertArray"]["出线支路05电流越上线"] is True
    assert polled[2]["A路进线总开关状态"] == "分闸"
    assert len({s["更新时间"] for s in polled}) == 3, "each round has its own stamp"
    assert all(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", s["更新时间"]) for s in polled), polled[0]["更新时间"]
    assert "record 1 (counted from 0) of 3" in run(work, "--dump", "polled.bin", "--index", "1").stderr

    # The last record by default.
    assert dump(work, "polled.bin", 2) == json.loads(run(work, "--dump", "polled.bin").stdout)
    refused = run(work, "--dump", "polled.bin", "--index", "3", check=False)
    assert refused.returncode == 2, refused.stderr

    replay = run(work, "--replay", "polled.bin", "--history", "replayed.bin", "--snapshot", "last.json",
                 "--trace", "t.jsonl")
    assert replay.stderr.count("record published") == 3, replay.stderr
    replayed = [dump(work, "replayed.bin", i) for i in range(3)]
    for before, after in zip(polled, replayed):
        assert without_time(before) == without_time(after)
    with open(os.path.join(work, "last.json"), encoding="utf-8") as f:
        assert without_time(json.load(f)) == without_time(polled[2])
    calls = [json.loads(line)["call"] for line in open(os.path.join(work, "t.jsonl"), encoding="utf-8")]
    assert "modbus_read_registers" not in calls and calls.count("SendSP") == 3

    # CSV rows decoded as --dump decodes them: named members, or every numeric member.
    run(work, "--export-csv", "t.csv", "--history", "polled.bin", "--signals", "环境温度,A路进线总开关状态")
    with open(os.path.join(work, "t.csv"), "rb") as f:
        assert f.read(3) == b"\xef\xbb\xbf", "a byte-order mark for spreadsheet programs"
    with open(os.path.join(work, "t.csv"), encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == ["time", "环境温度", "A路进线总开关状态"], rows[0]
    assert [r[0] for r in rows[1:]] == [s["更新时间"] for s in polled], rows
    assert [r[1] for r in rows[1:]] == ["21.5", "22.6", "22.6"], rows
    assert rows[3][2] == "分闸", rows
    run(work, "--export-csv", "all.csv", "--history", "polled.bin")
    with open(os.path.join(work, "all.csv"), encoding="utf-8-sig", newline="") as f:
        every = list(csv.reader(f))
    numeric = [k for k, v in polled[0].items() if isinstance(v, (int, float)) and not isinstance(v, bool)]
    assert sorted(every[0][1:]) == sorted(numeric) and len(every) == 4, every[0]
    misspelt = run(work, "--export-csv", "x.csv", "--history", "polled.bin", "--signals", "环境湿渡", check=False)
    assert misspelt.returncode == 2, misspelt.stderr
    assert "no snapshot member is named '环境湿渡'; nearest: 环境湿度" in misspelt.stderr, misspelt.stderr

    # A crash while the third record was written: two whole records remain.
    path = os.path.join(work, "polled.bin")
    os.truncate(path, os.path.getsize(path) - 1000)
    torn = run(work, "--dump", "polled.bin")
    assert json.loads(torn.stdout) == polled[1]
    assert "torn" in torn.stderr, torn.stderr
    again = run(work, "--replay", "polled.bin")
    assert again.stderr.count("record published") == 2, again.stderr

    # Histories of which no record loads: the status of a run in which no round completed. Refused
    # records are not paced: a hundred of them at one a minute would outlast the run's time-out.
    short = b"".join(b"PXRH" + struct.pack("<I", 10) + bytes(10) + struct.pack("<I", zlib.crc32(bytes(10)))
                     for _ in range(100))
    for name, content, message in (("empty.bin", b"", "it holds no whole record"),
                                   ("short.bin", short, "100 refused")):
        with open(os.path.join(work, name), "wb") as f:
            f.write(content)
        nothing = run(work, "--replay", name, "--interval", "60", check=False)
        assert nothing.returncode == 3, (name, nothing.returncode, nothing.stderr)
        assert f"smd-host: no record of {name} was loaded ({message})" in nothing.stderr, nothing.stderr

    # What is no history, or a history damaged before its last record, is refused and left as it
    # was, whatever reads or appends to it; only a torn last record, which a crash leaves, is cut.
    with open(os.path.join(work, "replayed.bin"), "rb") as f:
        whole = f.read()
    damaged = bytearray(whole)
    damaged[3933 + 8 + 100] ^= 0x5A
    for name, content in (("damaged.bin", bytes(damaged)), ("torn.bin", whole[:-1000]),
                          ("settings.json", b'{"appSetting": {"b_mode": 3}}\n')):
        with open(os.path.join(work, name), "wb") as f:
            f.write(content)
    refused = [
        (["--history", "settings.json", "--rounds", "1"],
         'smd-host: settings.json is not a history file: it does not start with "PXRH"; not appended to\n'),
        (["--replay", "t.csv"], 'smd-host: t.csv is not a history file: it does not start with "PXRH"\n'),
        (["--dump", "t.csv"], "smd-host: t.csv is not a history file"),
        (["--export-csv", "x.csv", "--history", "t.csv"], "smd-host: t.csv is not a history file"),
        (["--history", "damaged.bin", "--rounds", "1"],
         "smd-host: history damaged.bin: the record at byte 3933 is damaged (its check fails); not appended to\n"),
        (["--dump", "damaged.bin", "--index", "0"],
         "smd-host: history damaged.bin: the record at byte 3933 is damaged (its check fails)\n"),
    ]
    for args, message in refused:
        file = args[args.index("--history") + 1] if "--history" in args else args[1]
        with open(os.path.join(work, file), "rb") as f:
            before = f.read()
        done = run(work, *args, check=False)
        assert done.returncode == 1 and message in done.stderr, (args, done.returncode, done.stderr)
        with open(os.path.join(work, file), "rb") as f:
            assert f.read() == before, (args, "the file is left as it was")
    cut = run(work, "--history", "torn.bin", "--rounds", "1")
    assert "history torn.bin: a torn last record (2933 bytes, the remains of an interrupted write) was cut off " \
           "before appending" in cut.stderr, cut.stderr
    assert os.path.getsize(os.path.join(work, "torn.bin")) == 3 * (8 + 3921 + 4)

    # A long export, one device for all its records, gives each row its own record's values: the
    # rows of 3,000 records, 24 distinct images in a scrambled order with alarms and alarm-only
    # states changing from one to the next, equal those of each image exported alone.
    images = 24
    changes = []
    for k in range(1, images + 1):
        for reg, value in ((4247, 200 + k), (5, 23000 + 7 * k), (7433, k * 37), (4099, k % 4), (4096, k // 2 % 4),
                           (4103, k // 3 % 8), (7456, k * k), (7451, k % 2), (4098, k % 3)):
            changes += ["--set-at", f"{k}:{reg}={value}"]
    run(work, "--rounds", str(images), "--interval", "0", "--history", "images.bin", *changes)
    with open(os.path.join(work, "images.bin"), "rb") as f:
        stored = f.read()
    entry = 8 + 3921 + 4
    image = [stored[i * entry + 8:i * entry + 8 + 3921] for i in range(images)]

    def history(name, records):
        with open(os.path.join(work, name), "wb") as f:
            for record in records:
                f.write(b"PXRH" + struct.pack("<I", len(record)) + record + struct.pack("<I", zlib.crc32(record)))

    def stamped(record, second):
        return record[:-7] + struct.pack("<HBBBBB", 2026, 12, 7, 15, second // 60, second % 60)

    def exported(name, *args):
        run(work, "--export-csv", name, *args)
        with open(os.path.join(work, name), encoding="utf-8-sig", newline="") as f:
            return list(csv.reader(f))

    order = [(i * 7 + i * i // 5) % images for i in range(3000)]
    history("long.bin", [stamped(image[j], i % 3600) for i, j in enumerate(order)])
    statuses = "环境温度,A路进线总开关状态,A路进线防雷器开关状态,出线支路01开关状态,出线支路05电流越上线," \
               "出线支路01开关分闸,A路进线总开关开关告警,系统总告警状态,更新时间,A路进线-电压"
    for signals in ([], ["--signals", statuses]):
        alone = []
        for j in range(images):
            history("alone.bin", [image[j]])
            alone.append(exported("alone.csv", "--history", "alone.bin", *signals))
        rows = exported("long.csv", "--history", "long.bin", *signals)
        assert len(rows) == 3001 and rows[0] == alone[0][0], rows[0][:5]
        time_column = rows[0].index("更新时间") if "更新时间" in rows[0] else None
        for i, (row, j) in enumerate(zip(rows[1:], order)):
            second = i % 3600
            expected = [f"2026-12-07T15:{second // 60:02d}:{second % 60:02d}"] + alone[j][1][1:]
            if time_column is not None:
                expected[time_column] = f"2026-12-7 15:{second // 60}:{second % 60}"
            assert row == expected, (signals, i, j, [(a, b) for a, b in zip(row, expected) if a != b][:4])
        assert len({tuple(alone[j][1][1:]) for j in range(images)}) == images, "the images differ"
print("ok")
