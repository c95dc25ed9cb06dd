#!/usr/bin/env python3
"""Installs the released npm packages as their users do, from a private registry.

  npm-install-test.py [DIST_NPM]

DIST_NPM (default dist/npm, written by tools/package.sh) holds the client
tarball and the platform packages. The test starts verdaccio (installed by
`npm ci` in tools/npm-registry) on 127.0.0.1 with its storage in a temporary
folder and no uplinks, so nothing is asked of any other registry; publishes
every tarball to it; then, in fresh scratch projects:
  - `npm install kestrove`: only @kestrove/linux-x64-gnu is installed, and
    the README's example runs against a throwaway X desktop with no path;
  - `npm install --omit=optional kestrove`: no platform package; the first
    request rejects with helper_missing naming @kestrove/linux-x64-gnu;
  - `npm install --os=darwin --cpu=arm64 kestrove`: only
    @kestrove/darwin-universal, holding a universal Mach-O (when built);
  - `npm ci` here from that lockfile: the Linux package is installed;
  - `npm install --os=win32 --cpu=x64 kestrove`: only @kestrove/win32-x64,
    holding an x64 PE executable bin/kestrove.exe that the client's resolver
    finds for Windows (when built);
  - `import` and (when the client has a `require` condition) `require`
    resolve the same helper.
Every process started here is stopped by its pid.
"""
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

here = os.path.dirname(os.path.abspath(__file__))
repo = os.path.dirname(here)
sys.path.insert(0, here)
import x11_desktop  # noqa: E402

APP = "KestroveNpm"
LINUX = "@kestrove/linux-x64-gnu"
DARWIN = "@kestrove/darwin-universal"
WIN32 = "@kestrove/win32-x64"


def pe_machine(path):
    """The machine field of a PE executable's COFF header, or None."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if head[:2] != b"MZ" or len(head) < 0x40:
        return None
    offset = struct.unpack_from("<I", head, 0x3C)[0]
    if offset + 6 > len(head) or head[offset:offset + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", head, offset + 4)[0]


def fail(message):
    raise SystemExit(f"npm-install-test: {message}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Registry:
    def __init__(self, scratch):
        self.scratch = scratch
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}/"
        self.process = None

    def start(self):
        verdaccio = os.path.join(here, "npm-registry", "node_modules", ".bin", "verdaccio")
        if not os.access(verdaccio, os.X_OK):
            subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--silent"], cwd=os.path.join(here, "npm-registry"),
                           check=True)
        config = os.path.join(self.scratch, "verdaccio.yaml")
        with open(config, "w") as f:
            f.write(f"""storage: {self.scratch}/storage
auth:
  htpasswd:
    file: {self.scratch}/htpasswd
uplinks: {{}}
packages:
  '**':
    access: $all
    publish: $authenticated
listen: 127.0.0.1:{self.port}
log: {{ type: stdout, format: pretty, level: warn }}
""")
        self.log = open(os.path.join(self.scratch, "verdaccio.log"), "w")
        self.process = subprocess.Popen([verdaccio, "--config", config, "--listen", f"127.0.0.1:{self.port}"],
                                        stdout=self.log, stderr=subprocess.STDOUT)
        # Up once it answers; a registry that ends instead is reported.
        deadline = time.monotonic() + 120
        while True:
            try:
                with urllib.request.urlopen(self.url + "-/ping", timeout=5) as answer:
                    if answer.status == 200:
                        break
            except OSError:
                pass
            if self.process.poll() is not None or time.monotonic() > deadline:
                fail(f"verdaccio did not start: {open(self.log.name).read()}")
            time.sleep(0.1)
        return self

    def add_user(self):
        body = json.dumps({"name": "release", "password": "release-password", "type": "user"}).encode()
        request = urllib.request.Request(self.url + "-/user/org.couchdb.user:release", data=body, method="PUT",
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.loads(answer.read())["token"]

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        if self.process:
            self.log.close()


def npm(args, cwd, env):
    done = subprocess.run(["npm", *args], cwd=cwd, env=env, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        fail(f"npm {' '.join(args)} in {cwd} failed:\n{done.stdout}\n{done.stderr}")
    return done.stdout


def project(root, name, env):
    path = os.path.join(root, name)
    os.makedirs(path)
    with open(os.path.join(path, "package.json"), "w") as f:
        json.dump({"name": name, "version": "1.0.0", "private": True, "type": "module"}, f)
    return path


def installed_platform_packages(path):
    scope = os.path.join(path, "node_modules", "@kestrove")
    return sorted(f"@kestrove/{name}" for name in os.listdir(scope)) if os.path.isdir(scope) else []


def mach_o_slices(path):
    """The CPU types of a universal Mach-O file; None when it is not one."""
    with open(path, "rb") as f:
        header = f.read(8)
        magic, count = struct.unpack(">II", header)
        if magic != 0xCAFEBABE:
            return None
        return sorted(struct.unpack(">iiIII", f.read(20))[0] for _ in range(count))


def readme_example(readme):
    """The first JavaScript block of the README, which the install section starts with."""
    text = open(readme).read()
    first = next(line.strip() for line in text.splitlines() if line.strip() and not line.startswith("#"))
    if first != "npm install kestrove":
        fail(f"{readme} starts with {first!r}, not npm install kestrove")
    match = re.search(r"```js\n(.*?)```", text, re.S)
    if not match:
        fail(f"{readme} has no ```js example")
    return match.group(1)


def node(code, cwd, env, module=True):
    argv = ["node", "--input-type=module" if module else "--input-type=commonjs", "-e", code]
    return subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


def check_tarballs(tarballs, client):
    """What each tarball holds, before anything is published: one version
    throughout, platform packages of only their binary, README and licence,
    no install scripts, and a client that pins every platform package."""
    import tarfile
    manifests = {}
    for tarball in tarballs:
        with tarfile.open(tarball) as tar:
            members = {m.name: m for m in tar.getmembers()}
            manifest = json.load(tar.extractfile("package/package.json"))
            manifests[tarball] = manifest
            install = {"preinstall", "install", "postinstall"} & set(manifest.get("scripts", {}))
            if install:
                fail(f"{tarball} has install scripts: {sorted(install)}")
            if tarball in client:
                continue
            if manifest.get("scripts"):
                fail(f"{tarball} has scripts {manifest['scripts']}")
            name = manifest["name"]
            binary = "package/bin/kestrove.exe" if name.startswith("@kestrove/win32-") else "package/bin/kestrove"
            expected = {binary, "package/README.md", "package/LICENSE", "package/package.json"}
            if set(members) != expected:
                fail(f"{tarball} holds {sorted(members)}, not {sorted(expected)}")
            if members[binary].mode & 0o777 != 0o755:
                fail(f"{tarball}: {binary} has mode {members[binary].mode:o}, not 755")
            linux = name.startswith("@kestrove/linux-")
            if not manifest.get("os") or not manifest.get("cpu") or (manifest.get("libc") == ["glibc"]) != linux:
                fail(f"{tarball}: os {manifest.get('os')}, cpu {manifest.get('cpu')}, libc {manifest.get('libc')}")
    versions = {m["version"] for m in manifests.values()}
    if len(versions) != 1:
        fail(f"the tarballs have versions {sorted(versions)}")
    version = versions.pop()
    platforms = {m["name"] for t, m in manifests.items() if t not in client}
    pinned = manifests[client[0]].get("optionalDependencies", {})
    if not platforms <= set(pinned) or set(pinned.values()) != {version}:
        fail(f"the client pins {pinned}; it must pin {sorted(platforms)} at {version}")
    print(f"npm-install-test: {len(tarballs)} tarballs of version {version}; the client pins {', '.join(sorted(pinned))}")


def main():
    dist = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(repo, "dist", "npm"))
    tarballs = sorted(os.path.join(dist, name) for name in os.listdir(dist) if name.endswith(".tgz"))
    client = [t for t in tarballs if re.fullmatch(r"kestrove-\d+\.\d+\.\d+.*\.tgz", os.path.basename(t))]
    if len(client) != 1 or not any("linux-x64-gnu" in t for t in tarballs):
        fail(f"{dist} lacks the client or the linux-x64-gnu package: {tarballs}")
    with_darwin = any("darwin-universal" in t for t in tarballs)
    with_win32 = any("win32-x64" in t for t in tarballs)
    check_tarballs(tarballs, client)

    scratch = tempfile.mkdtemp(prefix="kestrove-npm-")
    registry = Registry(scratch)
    desktop = None
    try:
        registry.start()
        token = registry.add_user()
        npmrc = os.path.join(scratch, "npmrc")
        with open(npmrc, "w") as f:
            f.write(f"registry={registry.url}\n//127.0.0.1:{registry.port}/:_authToken={token}\n")
        env = {k: v for k, v in os.environ.items() if not k.lower().startswith("npm_") and k != "KESTROVE_PATH"}
        env.update(npm_config_userconfig=npmrc, npm_config_cache=os.path.join(scratch, "cache"),
                   npm_config_registry=registry.url, npm_config_update_notifier="false",
                   npm_config_audit="false", npm_config_fund="false")
        # Platform packages first, so the client's optional dependencies exist.
        for tarball in sorted(tarballs, key=lambda t: t in client):
            npm(["publish", tarball], scratch, env)
        print(f"npm-install-test: published {', '.join(os.path.basename(t) for t in tarballs)} to {registry.url}")

        projects = os.path.join(scratch, "projects")
        # 1. A plain install on this system gets exactly its package.
        plain = project(projects, "plain", env)
        npm(["install", "kestrove"], plain, env)
        if installed_platform_packages(plain) != [LINUX]:
            fail(f"npm install kestrove installed {installed_platform_packages(plain)}, not only {LINUX}")
        binary = os.path.join(plain, "node_modules", LINUX, "bin", "kestrove")
        if not os.access(binary, os.X_OK):
            fail(f"{binary} is not executable")
        desktop = x11_desktop.Desktop(monitors=1, width=1600, height=1000).start()
        xterm = desktop.spawn(["xterm", "-class", APP, "-geometry", "60x20+40+40"], APP)
        with open(os.path.join(plain, "example.mjs"), "w") as f:
            f.write(readme_example(os.path.join(plain, "node_modules", "kestrove", "README.md")))
        ran = subprocess.run(["node", "example.mjs", APP], cwd=plain, env=desktop.env(**env), capture_output=True,
                             text=True, timeout=120)
        if ran.returncode != 0 or "protocol 1" not in ran.stdout:
            fail(f"the README example failed ({ran.returncode}):\n{ran.stdout}\n{ran.stderr}")
        if str(xterm.window) not in ran.stdout:
            fail(f"the README example did not show the xterm's window {xterm.window}:\n{ran.stdout}")
        print(f"npm-install-test: npm install kestrove gives {LINUX}; the README example ran:\n{ran.stdout.strip()}")

        # 2. Without optional dependencies: no package, and the error says which.
        bare = project(projects, "bare", env)
        npm(["install", "--omit=optional", "kestrove"], bare, env)
        if installed_platform_packages(bare):
            fail(f"--omit=optional installed {installed_platform_packages(bare)}")
        code = ('import { Kestrove } from "kestrove";'
                'const h = Kestrove.spawn();'
                'try { await h.version(); console.log("answered"); }'
                'catch (e) { console.log(JSON.stringify({ code: e.code, message: e.message })); }'
                'await h.close();')
        done = node(code, bare, env)
        outcome = json.loads(done.stdout.strip() or "{}") if done.stdout.strip().startswith("{") else {}
        if outcome.get("code") != "helper_missing" or LINUX not in outcome.get("message", ""):
            fail(f"with --omit=optional the first request gave {done.stdout!r} {done.stderr!r}")
        print(f"npm-install-test: --omit=optional: {outcome['message']}")

        # 3. An install for a Mac, made here, and 4. npm ci from its lockfile.
        if with_darwin:
            mac = project(projects, "mac", env)
            npm(["install", "--os=darwin", "--cpu=arm64", "kestrove"], mac, env)
            if installed_platform_packages(mac) != [DARWIN]:
                fail(f"--os=darwin --cpu=arm64 installed {installed_platform_packages(mac)}, not only {DARWIN}")
            slices = mach_o_slices(os.path.join(mac, "node_modules", DARWIN, "bin", "kestrove"))
            if slices != [0x01000007, 0x0100000C]:
                fail(f"{DARWIN} holds no universal x86_64 and arm64 Mach-O (CPU types {slices})")
            print(f"npm-install-test: --os=darwin --cpu=arm64 gives {DARWIN}, a universal Mach-O")
            ci = project(projects, "ci-from-mac", env)
            for name in ("package.json", "package-lock.json"):
                shutil.copy(os.path.join(mac, name), os.path.join(ci, name))
            npm(["ci"], ci, env)
            if installed_platform_packages(ci) != [LINUX]:
                fail(f"npm ci from a Mac lockfile installed {installed_platform_packages(ci)}, not {LINUX}")
            print(f"npm-install-test: npm ci from the lockfile made with --os=darwin installs {LINUX}")
        else:
            print("npm-install-test: no @kestrove/darwin-universal (no macOS SDK); the Mac rows are skipped")

        # An install for Windows, made here: its package, and the resolver
        # finds its kestrove.exe when asked as on Windows.
        if with_win32:
            win = project(projects, "win32", env)
            npm(["install", "--os=win32", "--cpu=x64", "kestrove"], win, env)
            if installed_platform_packages(win) != [WIN32]:
                fail(f"--os=win32 --cpu=x64 installed {installed_platform_packages(win)}, not only {WIN32}")
            exe = os.path.join(win, "node_modules", WIN32, "bin", "kestrove.exe")
            if pe_machine(exe) != 0x8664:
                fail(f"{exe} is not an x64 PE executable")
            found = node('import { findHelper } from "kestrove";'
                         'console.log(findHelper({ platform: "win32", arch: "x64", env: {} }).path);', win, env)
            if found.returncode != 0 or os.path.realpath(found.stdout.strip()) != os.path.realpath(exe):
                fail(f"the resolver found {found.stdout.strip()!r} {found.stderr.strip()} for win32, not {exe}")
            print(f"npm-install-test: --os=win32 --cpu=x64 gives {WIN32}, an x64 kestrove.exe the resolver finds")
        else:
            print("npm-install-test: no @kestrove/win32-x64 (no Windows cross-build); the Windows row is skipped")

        # 5. import and require find the same helper.
        expected = os.path.realpath(binary)
        imported = node('import { findHelper } from "kestrove"; console.log(findHelper().path);', plain, env)
        if imported.returncode != 0 or os.path.realpath(imported.stdout.strip()) != expected:
            fail(f"import found {imported.stdout.strip()!r} {imported.stderr.strip()}, not {expected}")
        manifest = json.load(open(os.path.join(plain, "node_modules", "kestrove", "package.json")))
        if "require" in json.dumps(manifest.get("exports", {})):
            required = node('console.log(require("kestrove").findHelper().path);', plain, env, module=False)
            if required.returncode != 0 or os.path.realpath(required.stdout.strip()) != expected:
                fail(f"require found {required.stdout.strip()!r} {required.stderr.strip()}, not {expected}")
            print(f"npm-install-test: import and require both resolve {expected}")
        else:
            print(f"npm-install-test: import resolves {expected}; the client has no require condition yet")
    finally:
        if desktop:
            desktop.stop()
        registry.stop()
        if os.path.basename(scratch).startswith("kestrove-npm-"):
            shutil.rmtree(scratch, ignore_errors=True)
    print("npm-install-test: passed")


if __name__ == "__main__":
    main()
