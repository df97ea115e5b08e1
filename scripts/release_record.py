#!/usr/bin/python3
"""What a release of VELQUOR.exe is made of, and the papers that go with it.

From the link map (ld -Map) it lists every object linked into the exe, with
its archive, its Debian package and the source package that built it. From
that list it writes the release's third-party notices (upstream texts,
verbatim, from Debian's source packages), its CycloneDX bill of materials and
its build record (after deb-buildinfo(5)), and it refuses a link that holds
code whose licence has no notice here or cannot be carried by a static exe.

    release_record.py check-link MAP [--build-dir DIR]
    release_record.py notices MAP --mingw-source DIR --libjpeg-source DIR --out FILE
    release_record.py bom MAP --exe EXE --version V --commit C --time EPOCH --out FILE
    release_record.py buildinfo MAP --exe EXE --version V --commit C --time EPOCH --arch A --out FILE
    release_record.py bom-for-exe BOM EXE            (the BOM with EXE's hashes, to stdout)
    release_record.py compare-buildinfo BUILDINFO    (versions that differ on this machine)
    release_record.py check-bom BOM [--schema-dir DIR]
"""
import argparse
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import uuid
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PINS = os.path.join(ROOT, "scripts", "source-pins.txt")
SPDX_LIST_NOTE = "Debian's python3-license-expression"


@dataclass(frozen=True)
class Part:
    """A body of third-party code the exe may link, and what its licence asks."""

    key: str
    name: str
    licence: str  # SPDX expression
    publisher: str
    notice: str  # how its notice is made: see NOTICE_WRITERS


# The parts this program may link, in the order their notices appear.
PARTS = {
    p.key: p
    for p in (
        Part("libjpeg-turbo", "libjpeg-turbo", "IJG AND Zlib", "The libjpeg-turbo Project", "libjpeg"),
        Part("zlib", "zlib", "Zlib", "Jean-loup Gailly and Mark Adler", "zlib"),
        Part(
            "mingw-w64-runtime",
            "mingw-w64-crt",
            "ZPL-2.1 AND ISC AND BSD-2-Clause-NetBSD AND LicenseRef-gdtoa AND LicenseRef-SunPro",
            "The MinGW-w64 project",
            "mingw-runtime",
        ),
        Part("winpthreads", "winpthreads", "MIT AND BSD-3-Clause", "The MinGW-w64 project", "winpthreads"),
        Part(
            "gcc-runtime",
            "libgcc, libstdc++",
            "GPL-3.0-or-later WITH GCC-exception-3.1",
            "Free Software Foundation",
            "gcc",
        ),
    )
}

# Licence references of our own: the other notices of the MinGW-w64 runtime's
# licence file, which the SPDX list of Debian 12 does not name.
LICENCE_REFS = {"LicenseRef-gdtoa", "LicenseRef-SunPro"}

# Debian binary package, file in it -> the part it holds. A static exe cannot
# carry LGPL code, nor GPL code without the GCC runtime exception.
FORBIDDEN = "forbidden"
PACKAGE_RULES = (
    (r"mingw-w64-(i686|x86-64)-dev", r"lib(win)?pthread\.a", "winpthreads"),
    (r"mingw-w64-(i686|x86-64)-dev", r"[^/]+\.(a|o)", "mingw-w64-runtime"),
    (r"libz-mingw-w64-dev", r"libz\.a", "zlib"),
    (r"g(cc|\+\+)-mingw-w64-(i686|x86-64)-(posix|win32)", r"libquadmath\.a", FORBIDDEN),
    (
        r"g(cc|\+\+)-mingw-w64-(i686|x86-64)-(posix|win32)",
        r"(libgcc|libgcc_eh|libstdc\+\+|libsupc\+\+|libssp|libssp_nonshared)\.a|crt(begin|end|fastmath)\.o",
        "gcc-runtime",
    ),
)
FORBIDDEN_WHY = {"libquadmath.a": "LGPL-2.1-or-later, which a static exe cannot carry"}

# The program's own archives in its build folder.
OWN_ARCHIVES = re.compile(r"(^|/)(libUABERTURA|libtoolkit|libpictures)\.a$|(^|/)CMakeFiles/[^/]+\.dir/objects\.a$")
# libjpeg-turbo, built by scripts/build-libjpeg.sh from its pinned source package.
LIBJPEG = re.compile(r"(^|/)libjpeg-turbo-(i686|x86_64)/lib/libjpeg\.a$")

# The tools whose files took part in the build, by the command that runs them.
TOOLS = ("{t}-gcc-posix", "{t}-g++-posix", "{t}-ld", "{t}-as", "{t}-windres", "{t}-strip", "{t}-objcopy",
         "cmake", "make", "nasm", "osslsigncode")
# Packages that take part without a command of their own: the compilers' backends and
# headers, apt-get source, and the zlib that compresses the zip.
BUILD_PACKAGES = ("gcc-mingw-w64-base", "mingw-w64-common", "dpkg-dev", "python3.11", "zlib1g")


class Refused(Exception):
    """The link, the BOM or the record is not fit to ship: the message says why."""


# ---------------------------------------------------------------------- link map


@dataclass
class Input:
    """One archive or object file the linker took objects from."""

    path: str
    members: list = field(default_factory=list)  # empty for an object linked whole
    part: str = ""  # key of PARTS, "own", or "" when unknown
    package: str = ""  # Debian binary package
    source: str = ""  # Debian source package
    version: str = ""  # Debian source version


MEMBER = re.compile(r"^(?P<archive>[^\s(]+)\((?P<member>[^)\s]+)\)(?:\s+(?P<by>\S+))?")


def read_link_map(map_path):
    """The inputs of a link, from its map: archive members and whole objects,
    and which input's objects pulled each member in (the dependency graph)."""
    inputs, edges = {}, set()
    section = None
    pending = None
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("Archive member included"):
                section = "members"
                continue
            if re.match(r"^(Discarded input sections|Allocating common symbols|Memory Configuration)", line):
                section = None
            if line.startswith("LOAD "):
                path = line[5:].strip()
                if path.endswith(".o"):
                    inputs.setdefault(os.path.normpath(path), Input(os.path.normpath(path)))
                continue
            if section != "members":
                continue
            found = MEMBER.match(line)
            if found:
                archive = os.path.normpath(found["archive"])
                inputs.setdefault(archive, Input(archive)).members.append(found["member"])
                pending = archive
                by = found["by"]
            elif pending and line.startswith(" "):
                by = line.split()[0]
            else:
                continue
            if by:
                referrer = os.path.normpath(MEMBER.match(by)["archive"] if MEMBER.match(by) else by)
                edges.add((referrer, pending))
                pending = None
    return list(inputs.values()), edges


def dpkg_owners(paths):
    """Binary package of each path Debian installed."""
    if not paths:
        return {}
    real = {os.path.realpath(p): p for p in paths}
    result = subprocess.run(["dpkg-query", "-S", *real], capture_output=True, text=True)
    owners = {}
    for line in result.stdout.splitlines():
        package, _, path = line.partition(": ")
        if path in real:
            owners[real[path]] = package.split(":")[0].split(",")[0]
    return {real[r]: package for r, package in owners.items()}


def package_versions(packages):
    """Binary package -> (source package, source version, binary version)."""
    if not packages:
        return {}
    result = subprocess.run(
        ["dpkg-query", "-W", "-f", "${Package} ${source:Package} ${source:Version} ${Version}\n", *packages],
        capture_output=True, text=True)
    versions = {}
    for line in result.stdout.splitlines():
        name, source, source_version, version = line.split(" ")
        if version:
            versions[name] = (source, source_version, version)
    return versions


def read_pins(path=PINS):
    """Source package -> (version, sha256 of its .dsc), as the tree pins them."""
    pins = {}
    with open(path, encoding="utf-8") as text:
        for line in text:
            fields = line.split("#")[0].split()
            if fields:
                pins[fields[0]] = (fields[1], fields[2])
    return pins


def classify(inputs, build_dir=""):
    """Names the part of each input; raises Refused for any input that cannot ship."""
    packaged = [i.path for i in inputs if os.path.isabs(i.path) and not LIBJPEG.search(i.path)]
    owners = dpkg_owners(packaged)
    versions = package_versions(sorted(set(owners.values())))
    problems = []
    for item in inputs:
        if not os.path.isabs(item.path) or (build_dir and item.path.startswith(build_dir + os.sep)):
            problem = classify_own(item, build_dir)
        elif LIBJPEG.search(item.path):
            problem = classify_libjpeg(item)
        else:
            problem = classify_packaged(item, owners, versions)
        if not problem and item.part in PARTS:
            problem = licence_problem(PARTS[item.part].licence)
        if problem:
            problems.append(f"{item.path}: {problem}")
    if problems:
        raise Refused("\n".join(problems))
    return inputs


def classify_own(item, build_dir):
    relative = os.path.relpath(item.path, build_dir) if os.path.isabs(item.path) else item.path
    if not OWN_ARCHIVES.search(relative):
        return "an archive of the build folder that is not one of the program's own; its code has no notice"
    item.part = "own"
    return ""


def classify_libjpeg(item):
    item.part, item.source = "libjpeg-turbo", "libjpeg-turbo"
    item.version = read_pins()["libjpeg-turbo"][0]
    if any(m.startswith(("turbojpeg", "tj")) for m in item.members):
        return "links the TurboJPEG API, under BSD-3-Clause, which has no notice here"
    return ""


def classify_packaged(item, owners, versions):
    item.package = owners.get(item.path, "")
    if not item.package:
        return "no Debian package holds it, so nothing says what licence its code is under"
    item.source, item.version, _ = versions[item.package]
    base = os.path.basename(item.path)
    item.part = next((part for package_rule, file_rule, part in PACKAGE_RULES
                      if re.fullmatch(package_rule, item.package) and re.fullmatch(file_rule, base)), "")
    if item.part == FORBIDDEN:
        return f"(Debian package {item.package}) {FORBIDDEN_WHY.get(base, 'a licence a static exe cannot carry')}"
    if not item.part:
        return f"(Debian package {item.package}) this package has no notice in the release"
    return ""


def licence_problem(expression):
    """Why a static exe cannot carry code under this SPDX expression, or ''."""
    for term in re.split(r"\s+(?:AND|OR)\s+|[()]", expression):
        term = term.strip()
        if re.match(r"(A|L)GPL", term):
            return f"{term}: a static exe cannot carry LGPL or AGPL code"
        if term.startswith("GPL") and not term.endswith("WITH GCC-exception-3.1"):
            return f"{term}: GPL without the GCC runtime exception cannot be linked into this exe"
    return ""


def linked_parts(inputs):
    """The third-party parts the link holds, in notice order, with their inputs."""
    present = {}
    for item in inputs:
        if item.part in PARTS:
            present.setdefault(item.part, []).append(item)
    return [(PARTS[key], present[key]) for key in PARTS if key in present]


def part_graph(inputs, edges):
    """Which part's objects reference which other part's: the dependency graph."""
    part_of = {item.path: item.part for item in inputs}
    graph = {}
    for referrer, needed in edges:
        a, b = part_of.get(referrer), part_of.get(needed)
        if a and b and a != b and b in PARTS:
            graph.setdefault(a, set()).add(b)
    return graph


# ---------------------------------------------------------------------- notices


def read_text(path):
    """A text file as written; the oldest runtime sources are in Latin-1."""
    with open(path, "rb") as text:
        data = text.read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("latin-1")


def ijg_legal_section(readme):
    """README.ijg's legal section: from its heading to the next heading."""
    lines = readme.splitlines()
    start = next(i for i, line in enumerate(lines) if line.strip() == "LEGAL ISSUES")
    end = next(i for i in range(start + 2, len(lines))
               if lines[i].strip() and re.fullmatch(r"=+", lines[i + 1].strip() if i + 1 < len(lines) else "x"))
    return "\n".join(lines[start:end]).rstrip() + "\n"


IJG_SENTENCE = "this software is based in part on the work of the Independent JPEG Group"


def automake_sources(makefile):
    """Automake variables of a Makefile.am, with $(var) expanded: name -> words."""
    text = re.sub(r"\\\n", " ", read_text(makefile))
    raw = {}
    for line in text.splitlines():
        assignment = re.match(r"^([A-Za-z0-9_]+)\s*(\+?=)\s*(.*)$", line)
        if assignment:
            name, operator, value = assignment.groups()
            raw[name] = raw.get(name, "") + " " + value if operator == "+=" else value

    def expand(value, depth=0):
        if depth > 20:
            return value
        return re.sub(r"\$\(([A-Za-z0-9_]+)\)", lambda m: expand(raw.get(m[1], ""), depth + 1), value)

    return {name: expand(value).split() for name, value in raw.items()}


# Objects the linker loads whole, by the source file they are built from.
WHOLE_OBJECTS = {"crt2.o": "crt/crtexe.c", "crt2u.o": "crt/crtexe.c", "crt1.o": "crt/crtexe.c",
                 "crt1u.o": "crt/crtexe.c"}


# Import stubs, made by dlltool from .def files: no source file, no notice.
IMPORT_STUB = re.compile(r"lib\w+?(s\d+|h|t)\.o")


def runtime_source_files(inputs, mingw_source):
    """The source file of each MinGW-w64 object in the link. Raises Refused for
    an object whose source, and so whose notice, cannot be found."""
    crt = os.path.join(mingw_source, "mingw-w64-crt")
    threads = os.path.join(mingw_source, "mingw-w64-libraries", "winpthreads")
    sources = {"mingw-w64-runtime": (crt, automake_sources(os.path.join(crt, "Makefile.am"))),
               "winpthreads": (threads, automake_sources(os.path.join(threads, "Makefile.am")))}
    files, missing = [], []
    for item in inputs:
        if item.part not in sources:
            continue
        base, variables = sources[item.part]
        if not item.members:
            source = WHOLE_OBJECTS.get(os.path.basename(item.path))
            if source:
                files.append(os.path.join(crt, source))
            else:
                missing.append(item.path)
            continue
        for member in item.members:
            source = member_source(member, variables)
            if source:
                files.append(os.path.join(base, source))
            elif not IMPORT_STUB.fullmatch(member):
                missing.append(f"{os.path.basename(item.path)}({member})")
    if missing:
        raise Refused("no source file, and so no notice, found for: " + ", ".join(missing))
    return sorted(set(files))


def member_source(member, variables):
    """lib32_libmingwex_a-mingw_pformat.o -> the source of lib32_libmingwex_a_SOURCES named mingw_pformat.*"""
    target, _, stem = member.partition("-")
    stem = stem[:-2] if stem.endswith(".o") else stem
    return next((source for source in variables.get(target + "_SOURCES", [])
                 if re.fullmatch(re.escape(stem) + r"\.(c|S|s|cpp)", os.path.basename(source))), "")


def leading_notice(path):
    """The comment a source file opens with, when it carries a copyright notice."""
    text = read_text(path).lstrip()
    block = re.match(r"/\*.*?\*/", text, re.S)
    if not block:
        return ""
    comment = block.group(0)
    if "no copyright assigned" in comment or not re.search(r"Copyright|\([Cc]\) \d", comment):
        return ""
    return comment


def file_notices(files, root):
    """Each distinct notice of the linked source files, with the files that carry it."""
    notices = {}
    for path in files:
        notice = leading_notice(path)
        if notice:
            notices.setdefault(notice, []).append(os.path.relpath(path, root))
    return notices


RULE = "=" * 78


def heading(part, items):
    archives = ", ".join(sorted({os.path.basename(i.path) for i in items}))
    source, version = items[0].source, items[0].version
    packages = ", ".join(sorted({i.package for i in items if i.package})) or "none: built here from the source package"
    return (f"{RULE}\n{part.name} (Debian source package {source} {version})\n"
            f"Licence: {part.licence}\nDebian binary packages: {packages}\n"
            f"Linked into VELQUOR.exe from: {archives}\n{RULE}\n\n")


def notice_libjpeg(part, items, sources):
    tree = sources["libjpeg"]
    return (f"VELQUOR.exe uses libjpeg-turbo's IJG API, and so: {IJG_SENTENCE}.\n"
            "libjpeg-turbo's TurboJPEG API (BSD-3-Clause) is not linked.\n\n"
            "--- LICENSE.md ---\n\n" + read_text(os.path.join(tree, "LICENSE.md")).rstrip() + "\n\n"
            "--- README.ijg, its legal section ---\n\n" + ijg_legal_section(read_text(os.path.join(tree, "README.ijg"))))


def notice_zlib(part, items, sources):
    header = read_text(sources["zlib.h"])
    block = re.match(r"/\*.*?\*/", header, re.S).group(0)
    return "zlib asks nothing of a binary; its notice, from zlib.h, as a courtesy:\n\n" + block + "\n"


def notice_mingw_runtime(part, items, sources):
    tree = sources["mingw"]
    text = read_text(os.path.join(tree, "COPYING.MinGW-w64-runtime", "COPYING.MinGW-w64-runtime.txt"))
    files = [f for f in sources["runtime-files"] if "/winpthreads/" not in f]
    return with_file_notices(text, files, tree)


def notice_winpthreads(part, items, sources):
    tree = sources["mingw"]
    text = read_text(os.path.join(tree, "mingw-w64-libraries", "winpthreads", "COPYING"))
    files = [f for f in sources["runtime-files"] if "/winpthreads/" in f]
    return with_file_notices(text, files, tree)


def with_file_notices(licence_text, files, tree):
    """A licence file, then the notices its linked source files open with: their
    own years and holders (Lucent's in mingw_pformat.c, Intel's in winpthreads)."""
    text = licence_text.rstrip() + "\n"
    notices = file_notices(files, tree)
    if notices:
        text += "\n--- The notices of the source files whose objects VELQUOR.exe links, as each file has it ---\n"
        for notice, paths in notices.items():
            text += "\n" + "\n".join(paths) + ":\n\n" + notice + "\n"
    return text


def notice_gcc(part, items, sources):
    return ("GCC's runtime libraries are under GPL-3.0-or-later WITH GCC-exception-3.1: the GCC Runtime Library\n"
            "Exception lets them be linked into a program under any licence, and asks nothing of a binary.\n")


NOTICE_WRITERS = {"libjpeg": notice_libjpeg, "zlib": notice_zlib, "mingw-runtime": notice_mingw_runtime,
                  "winpthreads": notice_winpthreads, "gcc": notice_gcc}


def notices_text(inputs, sources):
    parts = linked_parts(inputs)
    text = ("VELQUOR.exe - third-party notices / avisos de terceiros\n\n"
            "VELQUOR.exe contains code of the software below, linked into it. Their licences ask that these\n"
            "notices go with the program; each is given as its authors wrote it.\n"
            "VELQUOR.exe contém código dos programas abaixo, incorporado a ele. As licenças deles pedem que\n"
            "estes avisos acompanhem o programa; cada um está como seus autores o escreveram.\n\n"
            "Contents:\n" + "".join(f"  {p.name}\n" for p, _ in parts) + "\n")
    for part, items in parts:
        text += heading(part, items) + NOTICE_WRITERS[part.notice](part, items, sources) + "\n"
    return text


def named_parts(notices):
    """The parts a notices file names in its headings."""
    names = set(re.findall(rf"^{RULE}\n(.+?) \(Debian source package ", notices, re.M))
    return {key for key, part in PARTS.items() if part.name in names}


# ---------------------------------------------------------------------- BOM


def purl(source, version):
    quoted = version.replace(":", "%3A").replace("+", "%2B")
    return f"pkg:deb/debian/{source}@{quoted}?arch=source"


def iso_time(epoch):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch)))


def exe_hashes(exe_bytes):
    return [{"alg": "SHA-256", "content": hashlib.sha256(exe_bytes).hexdigest()},
            {"alg": "SHA-512", "content": hashlib.sha512(exe_bytes).hexdigest()}]


def serial_number(commit, exe_bytes):
    return "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, f"velquor:{commit}:{hashlib.sha256(exe_bytes).hexdigest()}"))


def bom_document(inputs, edges, exe_bytes, version, commit, epoch):
    parts = linked_parts(inputs)
    components = []
    for part, items in parts:
        components.append({
            "type": "library",
            "bom-ref": part.key,
            "supplier": {"name": "Debian", "url": ["https://www.debian.org"]},
            "publisher": part.publisher,
            "name": part.name,
            "version": items[0].version,
            "licenses": [{"expression": part.licence}],
            "purl": purl(items[0].source, items[0].version),
            "properties": [{"name": "velquor:linked-from", "value": os.path.basename(i.path)} for i in items],
        })
    graph = part_graph(inputs, edges)
    dependencies = [{"ref": "VELQUOR.exe", "dependsOn": [p.key for p, _ in parts if p.key in graph.get("own", ())]}]
    dependencies += [{"ref": p.key, "dependsOn": sorted(graph.get(p.key, ()))} for p, _ in parts]
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": serial_number(commit, exe_bytes),
        "version": 1,
        "metadata": {
            "timestamp": iso_time(epoch),
            "lifecycles": [{"phase": "build"}],
            "component": {
                "type": "application",
                "bom-ref": "VELQUOR.exe",
                "supplier": {"name": "Mervik", "url": ["https://www.mervik.com.br/velquor"]},
                "name": "VELQUOR.exe",
                "version": version,
                "hashes": exe_hashes(exe_bytes),
                "properties": [{"name": "velquor:commit", "value": commit}],
            },
        },
        "components": components,
        "dependencies": dependencies,
    }


def bom_bytes(document):
    return (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode()


def bom_for_exe(bom, exe_bytes):
    """The same BOM for another exe of the same build (signed, or not)."""
    document = json.loads(bom)
    commit = next(p["value"] for p in document["metadata"]["component"]["properties"] if p["name"] == "velquor:commit")
    document["metadata"]["component"]["hashes"] = exe_hashes(exe_bytes)
    document["serialNumber"] = serial_number(commit, exe_bytes)
    return bom_bytes(document)


def spdx_problems(expression):
    """Each fault of an SPDX expression: syntax, or an id not on the SPDX list."""
    from license_expression import ExpressionError, get_spdx_licensing  # Debian's python3-license-expression

    licensing = get_spdx_licensing()
    try:
        licensing.parse(expression, strict=True)
    except ExpressionError as error:
        if "Unknown license key" not in str(error):
            return [f"licence {expression!r} is not a valid SPDX expression: {error}"]
    info = licensing.validate(expression, strict=True)
    unknown = [key for key in info.invalid_symbols if key not in LICENCE_REFS]
    if unknown:
        return [f"licence id {key} is not on the SPDX list ({SPDX_LIST_NOTE})" for key in unknown]
    return [error for error in info.errors if not error.startswith("Unknown license key")]


def check_bom(document, exe_bytes=None, schema_dir=None):
    """Everything a reader of the BOM relies on; raises Refused with each fault."""
    problems, spdx_ids = [], None
    if schema_dir:
        problems += schema_problems(document, schema_dir)
        spdx = dict(pinned_schemas(schema_dir)).get("spdx.schema.json")
        spdx_ids = set(spdx.get("enum", [])) if spdx else None
    component = document.get("metadata", {}).get("component", {})
    if exe_bytes is not None and component.get("hashes") != exe_hashes(exe_bytes):
        problems.append("metadata.component's hashes are not the exe's")
    refs = {component.get("bom-ref")}
    for item in document.get("components", []):
        refs.add(item.get("bom-ref"))
        problems += [f"component {item.get('name', '?')}{p}" for p in component_problems(item, spdx_ids)]
    for dependency in document.get("dependencies", []):
        for ref in [dependency.get("ref"), *dependency.get("dependsOn", [])]:
            if ref not in refs:
                problems.append(f"dependency on {ref}, which no component is")
    if problems:
        raise Refused("\n".join(problems))


def component_problems(item, spdx_ids):
    problems = [f" has no {key}" for key in ("name", "version", "supplier", "purl", "licenses") if not item.get(key)]
    if item.get("purl") and not re.fullmatch(r"pkg:deb/debian/[a-z0-9.+-]+@[^?#]+\?arch=source", item["purl"]):
        problems.append(f": purl {item['purl']} is not a Debian source package's")
    for licence in item.get("licenses", []):
        expression = licence.get("expression", "")
        problems += [f": {p}" for p in spdx_problems(expression)]
        keys = set(re.findall(r"[A-Za-z0-9.+-]+", expression)) - {"AND", "OR", "WITH"} - LICENCE_REFS
        problems += [f": {key} is not in the schema's SPDX list" for key in sorted(keys - (spdx_ids or keys))]
    return problems


def pinned_schemas(schema_dir):
    """The schema files SCHEMAS pins, each checked against its sha256; the first is the root.
    SCHEMAS: one line a file, "NAME VERSION UPSTREAM-PATH SHA256"."""
    listing = os.path.join(schema_dir, "SCHEMAS")
    schemas = []
    for line in read_text(listing).splitlines():
        fields = line.split("#")[0].split()
        if not fields:
            continue
        name, digest = fields[0], fields[-1]
        with open(os.path.join(schema_dir, name), "rb") as data:
            content = data.read()
        if hashlib.sha256(content).hexdigest() != digest:
            raise Refused(f"{name}: its sha256 is not the one {listing} pins; the schema is not the pinned one")
        schemas.append((name, json.loads(content)))
    if not schemas:
        raise Refused(f"{listing} pins no schema")
    return schemas


def schema_problems(document, schema_dir):
    """Validation against the pinned schema files, offline: every $ref is
    resolved from the files themselves, by their $id or their name."""
    import jsonschema  # Debian's python3-jsonschema

    schemas = pinned_schemas(schema_dir)
    store = {}
    for name, schema in schemas:
        store[name] = schema
        if "$id" in schema:
            store[schema["$id"]] = schema
    root = schemas[0][1]
    resolver = jsonschema.RefResolver(base_uri=root.get("$id", schemas[0][0]), referrer=root, store=store,
                                      handlers={"http": lambda uri: unresolved(uri), "https": lambda uri: unresolved(uri)})
    validator = jsonschema.validators.validator_for(root)(root, resolver=resolver)
    return [f"schema: /{'/'.join(map(str, e.absolute_path))}: {e.message}" for e in validator.iter_errors(document)]


def unresolved(uri):
    raise Refused(f"the schema refers to {uri}, which no pinned file is: nothing is fetched")


# ---------------------------------------------------------------------- build record


def tool_packages(arch):
    triple = f"{arch}-w64-mingw32"
    paths = []
    for tool in TOOLS:
        found = subprocess.run(["sh", "-c", f'command -v "{tool.format(t=triple)}"'], capture_output=True, text=True)
        if found.stdout.strip():
            paths.append(found.stdout.strip())
    for program in ("cc1", "cc1plus"):
        found = subprocess.run([f"{triple}-gcc-posix", f"-print-prog-name={program}"], capture_output=True, text=True)
        if found.returncode == 0 and os.path.isabs(found.stdout.strip()):
            paths.append(found.stdout.strip())
    return set(dpkg_owners(paths).values())


def sha256_file(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def debian_release():
    fields = {}
    for line in open("/etc/os-release", encoding="utf-8"):
        key, _, value = line.strip().partition("=")
        fields[key] = value.strip('"')
    version = open("/etc/debian_version", encoding="utf-8").read().strip()
    return f"{fields.get('ID', 'debian')} {version} ({fields.get('VERSION_CODENAME', '')})"


def buildinfo_text(inputs, exe_bytes, version, commit, epoch, arch, libjpeg_dsc):
    packages = tool_packages(arch) | {i.package for i in inputs if i.package}
    packages |= set(package_versions(list(BUILD_PACKAGES)))
    versions = package_versions(sorted(packages))
    pinned_version, pinned_dsc = read_pins()["libjpeg-turbo"]
    dsc_digest = sha256_file(libjpeg_dsc)
    if dsc_digest != pinned_dsc:
        raise Refused(f"{libjpeg_dsc}: its sha256 {dsc_digest} is not the pinned {pinned_dsc}")
    archives = sorted({i.path for i in inputs if i.part in PARTS and i.members}, key=os.path.basename)
    lines = [
        "Format: 1.0",
        "Source: VELQUOR",
        f"Version: {version}",
        f"Architecture: {arch}-w64-mingw32",
        f"Commit: {commit}",
        f"Build-Origin: {debian_release()}",
        "Checksums-Sha256:",
        f" {hashlib.sha256(exe_bytes).hexdigest()} {len(exe_bytes)} VELQUOR.exe (unsigned)",
        f"Libjpeg-Turbo-Source: libjpeg-turbo {pinned_version}",
        f"Libjpeg-Turbo-Dsc-Sha256: {dsc_digest}",
        "Linked-Archives-Sha256:",
        *[f" {sha256_file(a)} {display_path(a)}" for a in archives],
        "Installed-Build-Depends:",
        *[f" {p} (= {versions[p][2]})," for p in sorted(versions)],
        "Environment:",
        f' SOURCE_DATE_EPOCH="{epoch}"',
    ]
    lines[-3] = lines[-3].rstrip(",")
    return "\n".join(lines) + "\n"


def display_path(path):
    """An archive's path as any build of the commit names it."""
    jpeg = LIBJPEG.search(path)
    return "deps/" + jpeg.group(0).lstrip("/") if jpeg else os.path.realpath(path)


def recorded_packages(buildinfo):
    """Package -> version, from a build record's Installed-Build-Depends."""
    packages, inside = {}, False
    for line in buildinfo.splitlines():
        if not line.startswith(" "):
            inside = line.startswith("Installed-Build-Depends:")
            continue
        found = re.match(r"^ (\S+) \(= ([^)]+)\),?$", line)
        if inside and found:
            packages[found[1]] = found[2]
    return packages


def version_differences(buildinfo):
    """'package: release version -> this machine's' for each package that differs."""
    buildinfo = buildinfo.replace("\r\n", "\n")
    recorded = recorded_packages(buildinfo)
    here = {name: v[2] for name, v in package_versions(sorted(recorded)).items()}
    lines = [f"{name}: {version} -> {here.get(name, 'not installed')}"
             for name, version in sorted(recorded.items()) if here.get(name) != version]
    pinned = read_pins()["libjpeg-turbo"]
    source = re.search(r"^Libjpeg-Turbo-Source: libjpeg-turbo (\S+)$", buildinfo, re.M)
    dsc = re.search(r"^Libjpeg-Turbo-Dsc-Sha256: (\S+)$", buildinfo, re.M)
    if source and source[1] != pinned[0]:
        lines.append(f"libjpeg-turbo (source): {source[1]} -> {pinned[0]} (pinned in this tree)")
    elif dsc and dsc[1] != pinned[1]:
        lines.append(f"libjpeg-turbo (source .dsc): {dsc[1]} -> {pinned[1]} (pinned in this tree)")
    return lines


# ---------------------------------------------------------------------- commands


def load_link(args):
    inputs, edges = read_link_map(args.map)
    build_dir = os.path.realpath(args.build_dir) if args.build_dir else ""
    return classify(inputs, build_dir), edges


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def crlf(text):
    """Notepad on Windows 7 shows UTF-8 with a byte-order mark and CRLF."""
    return b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode()


def run_check_link(args):
    inputs, _ = load_link(args)
    for part, items in linked_parts(inputs):
        print(f"{part.name}: {', '.join(sorted({os.path.basename(i.path) for i in items}))} "
              f"({items[0].source} {items[0].version}; {part.licence})")


def run_notices(args):
    inputs, _ = load_link(args)
    sources = {"mingw": args.mingw_source, "libjpeg": args.libjpeg_source,
               "zlib.h": args.zlib_header or f"/usr/{args.arch}-w64-mingw32/include/zlib.h",
               "runtime-files": runtime_source_files(inputs, args.mingw_source)}
    text = notices_text(inputs, sources)
    expected = {p.key for p, _ in linked_parts(inputs)}
    if named_parts(text) != expected:
        raise Refused(f"the notices name {sorted(named_parts(text))}, the link holds {sorted(expected)}")
    write(args.out, crlf(text))


def run_bom(args):
    inputs, edges = load_link(args)
    exe = read_bytes(args.exe)
    document = bom_document(inputs, edges, exe, args.version, args.commit, args.time)
    check_bom(document, exe)
    write(args.out, bom_bytes(document))


def run_buildinfo(args):
    inputs, _ = load_link(args)
    text = buildinfo_text(inputs, read_bytes(args.exe), args.version, args.commit, args.time, args.arch,
                          args.libjpeg_dsc)
    write(args.out, text.replace("\n", "\r\n").encode())


def run_bom_for_exe(args):
    sys.stdout.buffer.write(bom_for_exe(read_bytes(args.file), read_bytes(args.second)))


def run_compare_buildinfo(args):
    print("\n".join(version_differences(read_text(args.file))))


def run_check_bom(args):
    document = json.loads(read_bytes(args.file))
    check_bom(document, read_bytes(args.exe) if args.exe else None, args.schema_dir)
    print(f"{args.file}: a sound CycloneDX {document.get('specVersion')} BOM")


COMMANDS = {"check-link": run_check_link, "notices": run_notices, "bom": run_bom, "buildinfo": run_buildinfo,
            "bom-for-exe": run_bom_for_exe, "compare-buildinfo": run_compare_buildinfo, "check-bom": run_check_bom}


def read_bytes(path):
    with open(path, "rb") as data:
        return data.read()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=COMMANDS)
    parser.add_argument("file")
    parser.add_argument("second", nargs="?")
    for option in ("--mingw-source", "--libjpeg-source", "--libjpeg-dsc", "--zlib-header", "--exe", "--version",
                   "--commit", "--time", "--schema-dir", "--out"):
        parser.add_argument(option)
    parser.add_argument("--build-dir", default="")
    parser.add_argument("--arch", default="i686")
    args = parser.parse_args(argv)
    args.map = args.file
    try:
        COMMANDS[args.command](args)
    except Refused as refusal:
        print(f"release_record: {args.command}: refused:\n{refusal}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
