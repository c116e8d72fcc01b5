# Run by read-crash.sh inside lldb-19's own Python (Debian's python3-lldb-19
# cannot be imported from a plain python3). Reads NORV_CRASH_DUMP with the
# programs and .debug files under NORV_CRASH_SYMBOLS and prints the threads'
# stacks, the crashing thread first; writes "ok" to NORV_CRASH_STATUS at the end.
import os
import struct
import sys

import lldb


def fail(message):
    sys.stdout.flush()
    print("read-crash: " + message, file=sys.stderr)
    sys.stderr.flush()
    os._exit(1)


def load(dump, search_paths):
    debugger = lldb.SBDebugger.Create()
    debugger.SetAsync(False)
    if search_paths:
        paths = " ".join('"%s"' % p for p in search_paths)
        # The dump names C:\...\norvvpnui.exe; lldb looks for that base name in
        # these folders and takes the file only when its build id matches.
        for setting in ("target.exec-search-paths", "target.debug-file-search-paths"):
            result = lldb.SBCommandReturnObject()
            debugger.GetCommandInterpreter().HandleCommand("settings set %s %s" % (setting, paths), result)
    target = debugger.CreateTarget("")
    error = lldb.SBError()
    process = target.LoadCore(dump, error)
    if not process.IsValid() or error.Fail():
        fail("lldb cannot read %s as a minidump: %s" % (dump, error.GetCString()))
    return target, process


def build_id(module):
    # lldb shows a CodeView record as GUID-age; the build id is the GUID.
    return (module.GetUUIDString() or "").replace("-", "").lower()[:32]


# (base name, symbol-store key) of each module the dump lists.
def dump_modules(dump):
    with open(dump, "rb") as f:
        data = f.read()
    if data[:4] != b"MDMP":
        fail("%s is not a minidump (no MDMP signature)" % dump)
    streams, directory = struct.unpack_from("<II", data, 8)
    modules = []
    for index in range(streams):
        kind, _, rva = struct.unpack_from("<III", data, directory + 12 * index)
        if kind != 4:  # ModuleListStream
            continue
        for entry in range(struct.unpack_from("<I", data, rva)[0]):
            at = rva + 4 + 108 * entry
            _, size, _, stamp, name_rva = struct.unpack_from("<QIIII", data, at)
            length = struct.unpack_from("<I", data, name_rva)[0]
            path = data[name_rva + 4:name_rva + 4 + length].decode("utf-16-le", "replace")
            modules.append((path.replace("\\", "/").split("/")[-1], "%08X%x" % (stamp, size)))
    return modules


# The folder holding a module's program and .debug: by the symbol-store key in
# a symbols folder that package.sh wrote, or the folder itself when the files
# lie there (a build folder, no key).
def symbol_folder(symbols, name, key):
    for folder in (os.path.join(symbols, name, key), symbols):
        if os.path.isfile(os.path.join(folder, name)) and os.path.isfile(os.path.join(folder, name + ".debug")):
            return folder
    return None


def has_symbols(module):
    return module.IsValid() and module.GetNumCompileUnits() > 0


def describe(target, address, is_return_address):
    # A return address's line is that of its call, one byte before it.
    lookup = target.ResolveLoadAddress(address - 1 if is_return_address else address)
    module = lookup.GetModule()
    where = module.GetFileSpec().GetFilename() if module.IsValid() else "?"
    context = target.ResolveSymbolContextForAddress(lookup, lldb.eSymbolContextEverything)
    name = ""
    inlined = context.GetBlock().GetContainingInlinedBlock()
    if inlined.IsValid():
        name = "%s (inlined into %s)" % (inlined.GetInlinedName(), context.GetFunction().GetName())
    elif context.GetFunction().IsValid():
        name = context.GetFunction().GetName()
    elif context.GetSymbol().IsValid():
        name = context.GetSymbol().GetName()
    elif module.IsValid() and module.GetObjectFileHeaderAddress().IsValid():
        base = module.GetObjectFileHeaderAddress().GetLoadAddress(target)
        name = "+0x%x" % (address - base)
    line = context.GetLineEntry()
    source = ""
    if line.IsValid() and line.GetFileSpec().IsValid():
        path = os.path.normpath(str(line.GetFileSpec()))
        source = "%s:%d" % (path, line.GetLine())
    return "0x%016x  %-18s %s  %s" % (address, where, name, source)


def preceded_by_call(target, address):
    error = lldb.SBError()
    code = target.ReadMemory(target.ResolveLoadAddress(address - 7), 7, error)
    if error.Fail() or len(code) != 7:
        return False
    if code[2] == 0xE8:  # call rel32
        return True
    # call through a register or memory: FF /2 with 0, 1 or 4 bytes after the ModRM byte
    return any(code[i] == 0xFF and (code[i + 1] & 0x38) == 0x10 for i in (1, 4, 5))


def code_of(module, address, target):
    for section in module.sections:
        if section.GetName() == ".text":
            start = section.GetLoadAddress(target)
            return start <= address < start + section.GetByteSize()
    return False


# Where the unwinder saw none of our frames (a thread waiting in the system,
# whose modules' unwind data a minidump does not hold), the return addresses
# into our code that lie on its stack, innermost first: a stack scan, as crash
# reporters do. A stale one can appear among them.
def scanned_frames(target, process, thread, ours):
    sp = thread.GetFrameAtIndex(0).GetSP()
    region = lldb.SBMemoryRegionInfo()
    if process.GetMemoryRegionInfo(sp, region).Fail() or not region.IsReadable():
        return []
    error = lldb.SBError()
    stack = process.ReadMemory(sp, region.GetRegionEnd() - sp, error)
    if error.Fail():
        return []
    found = []
    for offset in range(0, len(stack) - 7, 8):
        value = struct.unpack_from("<Q", stack, offset)[0]
        module = target.ResolveLoadAddress(value).GetModule()
        if module.IsValid() and build_id(module) in ours and code_of(module, value, target) \
                and preceded_by_call(target, value):
            found.append(value)
    return found


def print_thread(target, process, thread, ours):
    heading = "Thread 0x%04x" % thread.GetThreadID()
    if thread.GetStopReason() == lldb.eStopReasonException:
        heading += ": " + thread.GetStopDescription(256)
    print(heading)
    ours_seen = False
    number = 0
    for index in range(thread.GetNumFrames()):
        frame = thread.GetFrameAtIndex(index)
        if frame.IsInlined():
            continue  # described with the function it was inlined into
        module = frame.GetModule()
        ours_seen = ours_seen or (module.IsValid() and build_id(module) in ours)
        print("  #%-2d %s" % (number, describe(target, frame.GetPC(), number > 0)))
        number += 1
    if not ours_seen and ours:
        scanned = scanned_frames(target, process, thread, ours)
        if scanned:
            print("  found on the stack (return addresses into our code):")
            for address in scanned:
                print("      %s" % describe(target, address, True))
    print()


def main():
    dump = os.environ["NORV_CRASH_DUMP"]
    symbols = os.environ["NORV_CRASH_SYMBOLS"]
    modules = dump_modules(dump)
    folders = []
    for name, key in modules:
        folder = symbol_folder(symbols, name, key)
        if folder and folder not in folders:
            folders.append(folder)
    target, process = load(dump, folders)

    ours = set()
    found = set()
    for module in target.module_iter():
        if has_symbols(module):
            ours.add(build_id(module))
            found.add(module.GetFileSpec().GetFilename().lower())
            print("Symbols: %s, build id %s, from %s" % (module.GetFileSpec().GetFilename(),
                                                        build_id(module), module.GetFileSpec().GetDirectory()))
    for name, key in modules:
        if name.lower() in ("norvvpnui.exe", "uninstall-cleaner.exe") and name.lower() not in found:
            print("No symbols for %s (key %s) in %s" % (name, key, symbols))
    print()

    threads = list(process)
    crashing = [t for t in threads if t.GetStopReason() == lldb.eStopReasonException]
    for thread in crashing + [t for t in threads if t not in crashing]:
        print_thread(target, process, thread, ours)
    sys.stdout.flush()
    with open(os.environ["NORV_CRASH_STATUS"], "w") as status:
        status.write("ok\n")


try:
    main()
except Exception as error:  # any failure must reach the shell script as one
    fail("reading the dump failed: %r" % (error,))
