"""Adds the licence of a library that auditwheel bundled to a repaired wheel.

    wheel_licence.py WHEEL --file SOURCE:DEST --expression SPDX

The licence text SOURCE goes to <name>.dist-info/licenses/DEST with a License-File entry, the
wheel's License-Expression becomes "(old) AND (SPDX)", and RECORD is written anew. The wheel
file is rewritten in place.
"""

import argparse
import base64
import hashlib
import pathlib
import re
import shutil
import tempfile
import zipfile


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def new_entry(name, like):
    """A regular file entry, readable by all, dated like the wheel's first entry."""
    info = zipfile.ZipInfo(name, date_time=like.date_time)
    info.external_attr = 0o644 << 16
    return info


def with_licence(metadata, licence_file, expression):
    """METADATA text with one more License-File and the expression joined to the old one."""
    head, blank, body = metadata.partition("\n\n")  # the headers end at the first empty line
    lines = head.split("\n")
    old = [i for i, line in enumerate(lines) if line.startswith("License-Expression: ")]
    if len(old) != 1:
        raise SystemExit("the wheel's METADATA has no single License-Expression")
    current = lines[old[0]].removeprefix("License-Expression: ")
    if re.search(r"\s(AND|OR|WITH)\s", current):
        current = f"({current})"
    lines[old[0]] = f"License-Expression: {current} AND ({expression})"
    last_file = max(
        (i for i, line in enumerate(lines) if line.startswith("License-File: ")), default=old[0]
    )
    lines.insert(last_file + 1, f"License-File: {licence_file}")
    return "\n".join(lines) + blank + body


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("wheel", type=pathlib.Path)
    parser.add_argument("--file", required=True, help="SOURCE:DEST")
    parser.add_argument("--expression", required=True, help="SPDX expression of that licence")
    args = parser.parse_args()
    source, _, dest = args.file.partition(":")
    if not dest or dest.startswith("/") or ".." in pathlib.PurePosixPath(dest).parts:
        raise SystemExit(f"--file needs SOURCE:DEST with a relative DEST: {args.file}")
    text = pathlib.Path(source).read_bytes()

    with zipfile.ZipFile(args.wheel) as original:
        infos = original.infolist()
        entries = [(info, original.read(info)) for info in infos]
    dist_info = {info.filename.split("/")[0] for info in infos if ".dist-info/" in info.filename}
    if len(dist_info) != 1:
        raise SystemExit(f"{args.wheel}: expected one .dist-info directory, found {dist_info}")
    (dist_info,) = dist_info
    licence_name = f"{dist_info}/licenses/{dest}"
    if any(info.filename == licence_name for info in infos):
        raise SystemExit(f"{args.wheel} already holds {licence_name}")

    record_name = f"{dist_info}/RECORD"
    out_entries = []
    for info, data in entries:
        if info.filename == record_name:
            continue
        if info.filename == f"{dist_info}/METADATA":
            data = with_licence(data.decode(), dest, args.expression).encode()
        out_entries.append((info, data))
    out_entries.append((new_entry(licence_name, infos[0]), text))
    record = [record_line(i.filename, data) for i, data in out_entries if not i.is_dir()]
    record.append(f"{record_name},,")
    out_entries.append((new_entry(record_name, infos[0]), ("\n".join(record) + "\n").encode()))

    # Written beside the wheel and moved over it, so a failure leaves the original intact.
    with tempfile.NamedTemporaryFile(dir=args.wheel.parent, suffix=".whl", delete=False) as tmp:
        partial = pathlib.Path(tmp.name)
    try:
        with zipfile.ZipFile(partial, "w", compression=zipfile.ZIP_DEFLATED) as out:
            for info, data in out_entries:
                info.compress_type = zipfile.ZIP_DEFLATED
                out.writestr(info, data)
        shutil.copymode(args.wheel, partial)
        partial.replace(args.wheel)
    finally:
        partial.unlink(missing_ok=True)
    print(f"{args.wheel.name}: added {licence_name}")


if __name__ == "__main__":
    main()
