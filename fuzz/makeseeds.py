#!/usr/bin/env python3
"""Writes the seed corpora of the regfile and profile targets into fuzz/corpus/<target>/,
each input named by the SHA-1 of its bytes (inputs already there stay).

Registry files: what the registry editor and winsteps write and what people write by hand,
each in the editor's UTF-16LE with a byte-order mark and in UTF-8, plus the 8-bit REGEDIT4
form and files that are refused. Profiles: the built-in profiles as they are, then profiles
that inherit one and set each key in each form, and profiles that are refused.

    fuzz/makeseeds.py
"""
import hashlib
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
PROFILES = os.path.join(HERE, "..", "src", "platform", "emulated", "profiles")
HEADER = "Windows Registry Editor Version 5.00"


def save(target, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)
    return name


def utf16(text):
    """Hex bytes of text as the editor writes hex(2) and hex(7) data."""
    return ",".join("%02x" % b for b in text.encode("utf-16-le"))


def hexlist(data):
    return ",".join("%02x" % b for b in data)


def wrapped(prefix, data):
    """Hex data continued over lines of at most 80 columns, as the editor writes it."""
    lines, line = [], prefix
    pieces = ["%02x," % b for b in data]
    if pieces:
        pieces[-1] = pieces[-1][:-1]
    for piece in pieces:
        if len(line) + len(piece) > 79 and line != "  ":
            lines.append(line + "\\")
            line = "  "
        line += piece
    lines.append(line)
    return "\r\n".join(lines)


UNINSTALL = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Example Software"

# Bodies below the header, with CRLF line ends; each is written in both encodings.
BODIES = [
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"Name"="Demo"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n@="default \\"value\\" with \\\\ backslash"\r\n"na\\"me\\\\"="x"\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"answer"=dword:0000002a\r\n"zero"=dword:00000000\r\n"all"=dword:ffffffff\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"binary"=hex:00,01,02,7f,80,ff\r\n"empty"=hex:\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n' + wrapped('"long"=hex:', bytes(range(200))) + "\r\n",
    '[HKEY_CURRENT_USER\\Software\\Imported]\r\n"Path"=hex(2):' + utf16("%TEMP%\\\u00e9\0") + "\r\n",
    '[HKEY_CURRENT_USER\\Software\\Imported]\r\n' + wrapped('"List"=hex(7):', "a\0b\0\u20ac\0\0".encode("utf-16-le")) + "\r\n",
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n"odd dword"=hex(4):01,02\r\n"qword"=hex(b):01,00,00,00,00,00,00,80\r\n'
    '"none"=hex(0):\r\n"nul inside"=hex(1):61,00,00,00,62,00,00,00\r\n"own type"=hex(ffff0000):2a\r\n',
    '; exported by hand\r\n[HKEY_CURRENT_USER\\Software\\Imported]\r\n"Count"=dword:00000010\r\n@="Standard"\r\n\r\n'
    '[-HKEY_CURRENT_USER\\Software\\Old]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keep]\r\n"gone"=-\r\n',
    '[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n"ignored"="after a removal"\r\n',
    '[' + UNINSTALL + ']\r\n"DisplayName"="Example Software 2.1"\r\n"DisplayVersion"="2.1.0"\r\n"Publisher"="Example Ltd"\r\n'
    '"UninstallString"="\\"C:\\\\Program Files\\\\Example\\\\uninstall.exe\\" /S"\r\n"NoModify"=dword:00000001\r\n'
    '"EstimatedSize"=dword:00001f40\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"Example"="C:\\\\Program Files\\\\Example\\\\tray.exe"\r\n'
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n"Finish"="cmd /c del C:\\\\temp\\\\x"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\r\n"ProxyEnable"=dword:00000001\r\n'
    '"ProxyServer"="http=proxy:8080;ftp=proxy:2121"\r\n"ProxyOverride"="<local>"\r\n',
    '[HKEY_CURRENT_USER\\Environment]\r\n' + wrapped('"Path"=hex(2):', "%USERPROFILE%\\bin;C:\\Tools\0".encode("utf-16-le")) + "\r\n",
    '[HKEY_CLASSES_ROOT\\.demo]\r\n@="Demo.Document"\r\n\r\n[HKEY_CLASSES_ROOT\\Demo.Document\\shell\\open\\command]\r\n'
    '@="\\"C:\\\\Program Files\\\\Demo\\\\demo.exe\\" \\"%1\\""\r\n',
    '[HKLM\\SOFTWARE\\Short]\r\n"a"="1"\r\n[HKCU\\Software\\Short]\r\n"b"="2"\r\n[HKU\\.DEFAULT\\Software\\Short]\r\n'
    '[HKCC\\Software]\r\n[HKCR\\.short]\r\n@="x"\r\n[HKDD\\PerfStats]\r\n',
    '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Demo32]\r\n"v"="32-bit view"\r\n',
    '[hkey_current_user\\software\\lower]\r\n"d"=DWORD:0000ABCD\r\n"h"=HEX:AB,CD\r\n"e"=HEX(2):41,00,00,00\r\n',
    '[HKEY_CURRENT_USER\\Software\\Spaces]\r\n  "a"  =  "x"  \r\n\t"b"\t=\tdword:00000001\r\n"c"= hex: 01 , 02 ,03\r\n',
    '[HKEY_CURRENT_USER\\Software\\' + "\\".join("Level%d" % i for i in range(40)) + ']\r\n"deep"="yes"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Caf\u00e9 \u20ac \u4e2d\u6587]\r\n"Gr\u00fc\u00dfe"="\u00e9\u00e8\u00ea \u20ac \U0001f600"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Trailing\\]\r\n"t"="slash"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"v"="1"\r\n[HKEY_CURRENT_USER\\SOFTWARE\\DEMO]\r\n"V"="2"\r\n"v"=-\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"h"=hex:01,02,\\\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"h"=hex:01,\\\r\n  02,\\\r\n\r\n  03\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n"multi"=hex(7):' + utf16("eins\0zwei\0\u20ac\0\0") + "\r\n\"empty list\"=hex(7):00,00\r\n",
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n""="empty name is the default"\r\n"@"="a value named @"\r\n',
    '[HKEY_CURRENT_USER\\Software\\Demo]\r\n[-HKEY_CURRENT_USER\\Software\\Demo]\r\n[HKEY_CURRENT_USER\\Software\\Demo\\Again]\r\n',
    '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n'
    '"PendingFileRenameOperations"=hex(7):' + utf16("\\??\\C:\\temp\\a.txt\0\0\0") + "\r\n",
    '[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001]\r\n"Account Name"="Demo Support"\r\n'
    '"SMTP Server"="smtp.example.net"\r\n"SMTP Port"=dword:00000019\r\n',
]

# Bodies the reader refuses, each naming the line at fault.
REFUSED = [
    '"v"="x"\r\n',
    '[HKEY_NOWHERE\\X]\r\n',
    '[HKEY_CURRENT_USER\\X\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"d"=dword:123456789\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"d"=dword:-1\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"h"=hex:01,zz\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"h"=hex:123\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"h"=hex(q):01\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"t"=hex(100000000):01\r\n',
    '[HKEY_CURRENT_USER\\X]\r\nname="x"\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"v"="x\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"v"="abc\\"\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"u"=frob:1\r\n',
    '[-HKEY_CURRENT_USER]\r\n',
    '[HKEY_CURRENT_USER\\Software\\\\X]\r\n',
    '[HKEY_CURRENT_USER\\X]\r\n"v" "x"\r\n',
]


def regfile_seeds():
    seeds = []
    for body in BODIES:
        text = HEADER + "\r\n\r\n" + body
        seeds.append(b"\xff\xfe" + text.encode("utf-16-le"))
        seeds.append(text.encode("utf-8"))
    for body in REFUSED:
        seeds.append((HEADER + "\r\n\r\n" + body).encode("utf-8"))
    # Other spellings of the same files: LF line ends, a UTF-8 byte-order mark, big-endian
    # UTF-16, a stray last byte, no header at all.
    first = HEADER + "\r\n\r\n" + BODIES[8]
    seeds.append(first.replace("\r\n", "\n").encode("utf-8"))
    seeds.append(b"\xef\xbb\xbf" + first.encode("utf-8"))
    seeds.append(b"\xfe\xff" + first.encode("utf-16-be"))
    seeds.append(b"\xff\xfe" + first.encode("utf-16-le") + b"x")
    seeds.append(b"\n\n  " + first.encode("utf-8"))
    seeds.append(b"")
    seeds.append(b"\xef\xbb\xbf")
    seeds.append(b"\x7fELF\x02\x01\x01\0\0\0")
    # The 8-bit form: text types in hex are the bytes of the text itself.
    seeds.append(b'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n"Path"=hex(2):25,54,45,4d,50,25,00\r\n'
                 b'"List"=hex(7):61,00,62,00,00\r\n"Latin"=hex(1):63,61,66,e9,00\r\n"n"=dword:00000001\r\n')
    seeds.append(b'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n@="caf\xc3\xa9"\n"raw"="caf\xe9"\n')
    return seeds


def builtin_profiles():
    names = sorted(f[:-5] for f in os.listdir(PROFILES) if f.endswith(".json"))
    return [(name, open(os.path.join(PROFILES, name + ".json"), "rb").read()) for name in names]


def profile(base, **keys):
    text = {"inherits": base}
    text.update(keys)
    return json.dumps(text, indent=2, ensure_ascii=False).encode("utf-8")


def profile_seeds():
    seeds = [text for _, text in builtin_profiles()]
    os_record = json.loads(dict(builtin_profiles())["winxp-sp2"])["os"]
    registry = {
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings":
            {"ProxyEnable": 1, "ProxyServer": "http=proxy:8080;ftp=proxy:2121"},
        "HKLM\\SOFTWARE\\Example": {
            "@": "default value", "Build": 2107, "Paths": ["a", "b"],
            "Home": {"type": "REG_EXPAND_SZ", "value": "%ProgramFiles%\\Example"}, "@access": "read"},
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce": None,
    }
    every_type = {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Types": {
            "sz": {"type": "REG_SZ", "value": "text"}, "expand": {"type": "reg_expand_sz", "value": "%TEMP%"},
            "multi": {"type": "REG_MULTI_SZ", "value": ["eins", "", "\u20ac"]},
            "dword": {"type": "REG_DWORD", "value": 4294967295}, "qword": {"type": "REG_QWORD", "value": 9007199254740992},
            "binary": {"type": "REG_BINARY", "value": "01,ff,20"}, "none": {"type": "REG_NONE", "value": ""},
            "plain": "text", "number": 0, "list": [], "gone": None},
        "HKU\\.DEFAULT\\Software\\Types": {"@access": "denied"},
        "HKCR\\.types": {"@": "Types.Document", "@access": "full"},
        "HKDD\\PerfStats": {"x": 1},
    }
    good = [
        profile("winxp-sp2", administrator=False, registry=registry),
        profile("winxp-sp2", wow64=True, user="Anna", computerName="BOX-1", shellFolderLibrary=False),
        profile("win2003", wow64=True, registry={"HKLM": {}}),
        profile("vista-x64", os={"build": 6002, "servicePack": "Service Pack 2", "servicePackMajor": 2}),
        profile("win95", os={"servicePack": " C"}),
        profile("winxp-sp2", os={"extendedRecord": False}),
        profile("vista-x64", failures={"GetVersionEx": 1, "IsWow64Process": 5, "GetWindowsDirectory": 3,
                                       "GetSystemDirectory": 5, "CoInitialize": -2147467259,
                                       "CoInitializeSecurity": 4294967295}),
        profile("vista-x64", functions={"IsWow64Process": False}),
        profile("winxp-sp1", functions={"IsWow64Process": True}),
        profile("winxp-sp2", layout={"windows": "WINNT", "system": "sys32", "profiles": "Profiles"}),
        profile("win98", layout={"windows": "WIN98", "system": "SYSTEM"}),
        profile("winxp-sp2", environment={"temp": None, "DATA": "C:\\Data;D:\\x", "PLAIN": "text", "Path": "C:\\bin"}),
        profile("winxp-sp2", shellFolders={"26": "c:\\Data\\", "23": None, "5": "C:", "255": "C:\\Other"}),
        profile("winxp-sp2", registryDefaults=False),
        profile("win2000", registryDefaults=False, registry=registry),
        profile("vista-x64", registry=every_type),
        profile("win98se", registry=every_type),
        profile("winme", registry={"HKLM\\System\\CurrentControlSet\\Control": None, "HKCU\\Software\\A": {"v": "1"},
                                   "HKEY_CURRENT_USER\\SOFTWARE\\a": {"V": "2", "w": None}}),
        profile("base.json", os={"build": 2222}),
        profile("base.json", registry={"HKLM\\SOFTWARE\\Base": None}),
        profile("winxp-sp2", tools={"quick.exe": "exit", "LongTask.EXE": "exit"}, credentials={"user": "Admin", "password": "secret"}),
        profile("winxp-sp2", description="A machine with every key set", wow64=False, administrator=True, user="User",
                computerName="FULL", shellFolderLibrary=True, layout={"windows": "windows", "system": "system32",
                "profiles": "Documents and Settings"}, environment={"X": "C:\\X"}, shellFolders={"26": "C:\\AppData"},
                functions={"IsWow64Process": False}, failures={"CoInitialize": 0}, registryDefaults=True,
                registry={"HKCU\\Software\\Full": {"v": 1}}),
        json.dumps({"os": dict(os_record, platformId=1, major=4, minor=10, build=2222), "registry": every_type}).encode(),
        json.dumps({"description": "no inheritance", "os": {"platformId": 2, "major": 5, "minor": 0, "build": 2195}}).encode(),
        json.dumps({"os": {"platformId": 2, "major": 4, "minor": 0, "build": 1381, "servicePackMajor": 6}}).encode(),
    ]
    refused = [
        profile("winxp-sp2", wow64="yes"),
        profile("winxp-sp2", user="../../etc"),
        profile("winxp-sp2", user=""),
        profile("winxp-sp2", shellFolders={"26": "C:\\..\\..\\x"}),
        profile("winxp-sp2", shellFolders={"256": "C:\\x"}),
        profile("winxp-sp2", shellFolders={"26": "D:\\x"}),
        profile("winxp-sp9"),
        profile("loop.json"),
        profile("missing.json"),
        profile("."),
        profile("winxp-sp2", os={"major": 256}),
        profile("winxp-sp2", os={"build": 1.5}),
        profile("winxp-sp2", os={"servicePack": "x" * 128}),
        profile("winxp-sp2", layout={"windows": ".."}),
        profile("winxp-sp2", layout={"system": "a\\b"}),
        profile("winxp-sp2", environment={"A=B": "x"}),
        profile("winxp-sp2", environment={"X": 5}),
        profile("winxp-sp2", failures={"GetVersionEx": 4294967296}),
        profile("winxp-sp2", functions={"IsWow64Process": 1}),
        profile("winxp-sp2", registryDefaults="no"),
        profile("winxp-sp2", registry={"HKNOWHERE\\X": {}}),
        profile("winxp-sp2", registry={"HKLM": None}),
        profile("winxp-sp2", registry={"HKLM\\\\X": {}}),
        profile("winxp-sp2", registry={"HKLM\\X": []}),
        profile("winxp-sp2", registry={"HKLM\\X": {"d": -1}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"d": {"type": "REG_DWORD", "value": 4294967296}}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"b": {"type": "REG_BINARY", "value": "0g"}}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"t": {"type": "REG_LINK", "value": ""}}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"l": ["a", 1]}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"@access": "write"}}),
        profile("winxp-sp2", registry={"HKLM\\X": {"o": True}}),
        profile("winxp-sp2", adminstrator=False),
        json.dumps({"inherits": 5}).encode(),
        json.dumps({"inherits": ""}).encode(),
        json.dumps({"description": "no os"}).encode(),
        json.dumps({"os": {"platformId": 3, "major": 5, "minor": 1, "build": 1}}).encode(),
        b'{"inherits": "winxp-sp2",}',
        b'{"inherits": "winxp-sp2"',
        b'["winxp-sp2"]',
        b"",
        b'{"inherits": "winxp-sp2", "user": "\\ud800"}',
    ]
    return seeds + good + refused


def main():
    written = {"regfile": set(), "profile": set()}
    for data in regfile_seeds():
        written["regfile"].add(save("regfile", data))
    for data in profile_seeds():
        written["profile"].add(save("profile", data))
    for target, names in written.items():
        print("%s: %d seeds" % (target, len(names)))


if __name__ == "__main__":
    main()
