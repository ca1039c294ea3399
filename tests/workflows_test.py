#!/usr/bin/env python3
"""Checks the GitHub workflows offline, since nothing here can run them: GitHub's workflow schema,
through @action-validator/cli (installed into the build tree from the npm registry, as the
committed lockfile pins it, the first time), and what a schema cannot see: the repository
commands they call exist, selftest.cmd never waits for a key, the Windows matrix names both
runners, no step prints a secret or hands it to a command line, the signing secrets reach only the
step that signs, after the build, in a deployment environment; rights are given only where they
are used; every action is a release that runs on Node 24, pinned to its commit in the release
workflow; logs and screenshots are uploaded whenever a job does not pass, within the job's time;
what a private repository cannot have is skipped with a notice and publishing does not wait for
it; publishing can be run again; the test job shows its free disk and cleans apt's cache. Then
copies of the workflows, each broken in one way, must each be refused for that reason: a check
that cannot fail proves nothing.
Usage: workflows_test.py SOURCE_DIR BUILD_DIR"""
import fnmatch
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import yaml

source, build = (os.path.abspath(path) for path in sys.argv[1:3])
workflows = os.path.join(source, ".github", "workflows")


def install_validator():
    """The validator's CLI, installed into the build tree once, from the committed lockfile."""
    pinned = os.path.join(source, "tests", "workflow-validator")
    where = os.path.join(build, "workflow-validator")
    cli = os.path.join(where, "node_modules", "@action-validator", "cli", "cli.mjs")
    lock = "package-lock.json"
    with open(os.path.join(pinned, lock), "rb") as f:
        wanted = f.read()
    try:
        with open(os.path.join(where, lock), "rb") as f:
            current = f.read() if os.path.exists(cli) else None
    except FileNotFoundError:
        current = None
    if current != wanted:
        if not shutil.which("npm"):
            sys.exit("FAIL: no npm to install the workflow validator with: "
                     "run scripts/install-deps")
        shutil.rmtree(where, ignore_errors=True)
        os.makedirs(where)
        for name in ("package.json", lock):
            shutil.copy(os.path.join(pinned, name), where)
        # npm ci takes exactly what the lockfile names and checks each package's hash.
        run = subprocess.run(["npm", "ci", "--ignore-scripts", "--no-audit", "--no-fund",
                              "--prefix", where], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True)
        if run.returncode != 0:
            sys.stderr.write(run.stderr)
            # A registry this machine cannot reach (no route, no name, a certificate it does not
            # trust) leaves the schema unchecked, which is said, not passed.
            unreached = re.search(r"(?m)^npm (?:ERR!|error) code (E(CONN\w+|NOTFOUND|AI_AGAIN|"
                                  r"TIMEDOUT|NETUNREACH)|SELF_SIGNED_CERT\w*|UNABLE_TO_\w+|"
                                  r"CERT_\w+)$", run.stderr)
            if unreached:
                return None, f"npm could not reach the registry ({unreached.group(1)})"
            sys.exit("FAIL: npm could not install the workflow validator from the npm registry")
    return cli, None


NODE = shutil.which("node") or sys.exit("FAIL: no node to run the workflow validator with")
CLI, UNREACHED = install_validator()


# The validator's schema (early 2024) predates the 'attestations' permission that
# actions/attest-build-provenance needs, and refuses it: that one key, and nothing else, is taken
# out of the copy it sees.
def without_attestations(text):
    return re.sub(r"(?m)^[ \t]*attestations:[ \t]*(read|write|none)[ \t]*\n", "", text)


def leaves(errors):
    """The validator's errors, one line each, from the innermost of its nested alternatives."""
    for error in errors:
        states = error.get("states", [])
        if states:
            for state in states:
                yield from leaves(state.get("errors", []))
        else:
            yield f"{error.get('path')}: {error.get('detail') or error.get('title')}"


def schema_errors_by_cli(text):
    """What the validator's command says against GitHub's schema, as a user would run it."""
    if not CLI:
        return []
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "workflow.yml")  # not action.yml: checked as a workflow
        with open(path, "w", encoding="utf-8") as f:
            f.write(without_attestations(text))
        run = subprocess.run([NODE, CLI, path], capture_output=True, text=True, timeout=60)
    if run.returncode == 0:
        return []
    try:
        report = json.loads(run.stderr)
    except ValueError:
        return [f"the validator failed: {run.stderr.strip()[:500]}"]
    return sorted(set(leaves(report.get("errors", [])))) or ["the validator refused it"]


# The same check for many texts in one Node.js process, through the core the command calls:
# starting Node.js for each takes about a second on a busy machine.
BATCH = """
const validator = require(process.argv[1]);
const texts = JSON.parse(require("fs").readFileSync(0, "utf8"));
process.stdout.write(JSON.stringify(texts.map((text) => validator.validateWorkflow(text))));
"""


def schema_errors_batch(texts):
    if not CLI:
        return [[] for _ in texts]
    core = os.path.join(os.path.dirname(os.path.dirname(CLI)), "core")
    run = subprocess.run([NODE, "-e", BATCH, core], input=json.dumps(
        [without_attestations(text) for text in texts]), capture_output=True, text=True,
        timeout=120, check=True)
    return [sorted(set(leaves(result.get("errors", [])))) for result in json.loads(run.stdout)]


# ---- what a schema cannot see ----------------------------------------------------------------

def steps(workflow):
    for job_id, job in (workflow.get("jobs") or {}).items():
        for step in job.get("steps") or []:
            yield job_id, job, step


def runs(workflow):
    for job_id, job, step in steps(workflow):
        if "run" in step:
            yield job_id, job, step, str(step["run"])


def triggers(workflow):
    # YAML 1.1 reads the key 'on' as true.
    return workflow.get("on", workflow.get(True)) or {}


def check_top_permissions(name, workflow, text):
    if workflow.get("permissions") != {"contents": "read"}:
        yield f"the top-level permissions are {workflow.get('permissions')!r}, not contents: read"


def check_rights_where_used(name, workflow, text):
    for job_id, job in (workflow.get("jobs") or {}).items():
        granted = job.get("permissions") or {}
        if not isinstance(granted, dict):
            yield f"job {job_id}: permissions {granted!r} is not a list of rights"
            continue
        publishes = any("gh release create" in script for j, _, _, script in runs(workflow)
                        if j == job_id)
        attests = any("attest-build-provenance" in str(step.get("uses", ""))
                      for j, _, step in steps(workflow) if j == job_id)
        if (granted.get("contents") == "write") != publishes:
            yield f"job {job_id}: contents: write belongs to the job that runs gh release create"
        for right in ("id-token", "attestations"):
            if (granted.get(right) == "write") != attests:
                yield f"job {job_id}: {right}: write belongs to the job that attests"
        for right, level in granted.items():
            if level == "write" and right not in ("contents", "id-token", "attestations"):
                yield f"job {job_id}: {right}: write is used by no step"


PINNED = re.compile(r"^[\w.-]+/[\w./-]+@(v\d+(\.\d+)*|[0-9a-f]{40})$")


def check_actions_pinned(name, workflow, text):
    for job_id, _, step in steps(workflow):
        uses = step.get("uses")
        if uses is not None and not PINNED.match(str(uses)):
            yield f"job {job_id}: {uses} is pinned to no version"


COMMAND = re.compile(r"(?<![\w./$%-])(?:\./)?((?:scripts|tools|e2e)/[\w./-]*[\w-])")


def check_commands_exist(name, workflow, text):
    for job_id, _, _, script in runs(workflow):
        for command in COMMAND.findall(script):
            path = os.path.join(source, command)
            if not (os.path.isfile(path) and os.access(path, os.X_OK)):
                yield f"job {job_id}: {command} is no program in the repository"


def check_selftest_never_waits(name, workflow, text):
    for job_id, _, _, script in runs(workflow):
        if re.search(r"selftest\.cmd(?![ \t]+/nopause\b)", script):
            yield f"job {job_id}: selftest.cmd is called without /nopause and would wait for a key"


# The repository's secrets, and the job's own token.
SECRET = re.compile(r"\$\{\{\s*(secrets\.|github\.token\b)")


def check_secrets(name, workflow, text):
    if SECRET.search(str(workflow.get("env", ""))):
        yield "a secret in the workflow's env reaches every step"
    for job_id, job in (workflow.get("jobs") or {}).items():
        if SECRET.search(str(job.get("env", ""))):
            yield f"job {job_id}: a secret in the job's env reaches every step"
    for job_id, _, step, script in runs(workflow):
        if SECRET.search(script):
            yield f"job {job_id}: a secret is written into a run script, where it can be printed"
        held = [var for var, value in (step.get("env") or {}).items()
                if SECRET.search(str(value))]
        if not held:
            continue
        if re.search(r"(?m)^\s*set\s+(-\w*x|-o\s+xtrace)|\bbash\s+-\w*x", script):
            yield f"job {job_id}: a step that holds a secret traces its commands"
        for var in held:
            # A secret may be tested for being set, or piped by printf (bash's builtin: on no
            # command line) into a program's standard input. Any other use may print it.
            allowed = re.compile(
                rf"\[ -[nz] \"\${var}\" \]|printf '%s' \"\${var}\" \|(?!\|)")
            for line in script.splitlines():
                rest = allowed.sub("", line)
                if re.search(rf"\$\{{?{var}\b|\$env:{var}\b", rest):
                    yield f"job {job_id}: the secret in {var} is used where it may be shown: " \
                          f"{line.strip()}"


# The releases whose action.yml declares Node 24 (or that run only such actions), as their
# repositories tag them: the first such major of each, and the commits the release workflow is
# pinned to.
NODE24_MAJORS = {"actions/checkout": 5, "actions/upload-artifact": 6,
                 "actions/download-artifact": 7, "actions/attest-build-provenance": 3,
                 "actions/attest": 3}
RELEASE_COMMITS = {
    "fbc6f3992d24b796d5a048ff273f7fcc4a7b6c09": ("actions/checkout", "v5.1.0"),
    "b7c566a772e6b6bfb58ed0dc250532a479d7789f": ("actions/upload-artifact", "v6.0.0"),
    "37930b1c2abaa49bbe596cd826c3c89aef350131": ("actions/download-artifact", "v7.0.0"),
    "96278af6caaf10aea03fd8d33a09a777ca52d62f": ("actions/attest-build-provenance", "v3.2.0"),
}


def check_actions_current(name, workflow, text):
    for job_id, _, step in steps(workflow):
        uses = str(step.get("uses", ""))
        if "@" not in uses:
            continue
        action, ref = uses.split("@", 1)
        if action not in NODE24_MAJORS:
            yield f"job {job_id}: {action} is an action this check does not know"
            continue
        if re.fullmatch(r"[0-9a-f]{40}", ref):
            known = RELEASE_COMMITS.get(ref)
            if not known or known[0] != action:
                yield f"job {job_id}: {uses} is no commit of a known release of {action}"
            continue
        major = re.match(r"v(\d+)", ref)
        if not major or int(major.group(1)) < NODE24_MAJORS[action]:
            yield f"job {job_id}: {uses} runs on Node 20, or is no release"


def check_release_pinned_by_commit(name, workflow, text):
    for job_id, _, step in steps(workflow):
        uses = str(step.get("uses", ""))
        if uses and not re.search(r"@[0-9a-f]{40}$", uses):
            yield f"job {job_id}: {uses} is not pinned to a commit"


def timeout(value, default=360):
    return value if isinstance(value, int) else default


def check_uploads_survive(name, workflow, text):
    """A job that keeps logs uploads them when it fails, times out or is cancelled, and its steps'
    time-outs end them before the job's own, so that the upload still runs."""
    for job_id, job in (workflow.get("jobs") or {}).items():
        job_steps = job.get("steps") or []
        for index, step in enumerate(job_steps):
            if not str(step.get("uses", "")).startswith("actions/upload-artifact@") or \
                    not re.search(r"\.log\b|selftest", str(step.get("with", {}).get("path"))):
                continue
            condition = str(step.get("if", ""))
            if index == len(job_steps) - 1 and not (
                    condition == "always()" or ("failure()" in condition and
                                                "cancelled()" in condition)):
                yield f"job {job_id}: its logs are not uploaded on failure and on cancellation"
                continue
            if index < len(job_steps) - 1:
                continue
            before = job_steps[:index]
            untimed = [str(s.get("name", s.get("uses"))) for s in before
                       if COMMAND.search(str(s.get("run", ""))) and "timeout-minutes" not in s]
            if untimed:
                yield f"job {job_id}: step '{untimed[0]}' has no time-out of its own"
            total = sum(timeout(s.get("timeout-minutes"), 0) for s in before)
            if total >= timeout(job.get("timeout-minutes")):
                yield f"job {job_id}: its steps' time-outs ({total} min) leave the upload no time"


def private_skips(job):
    return "!github.event.repository.private" in str(job.get("if", "")).replace(" ", "")


def check_private_repository(name, workflow, text):
    jobs = workflow.get("jobs") or {}
    for job_id, job in jobs.items():
        attests = any("attest" in str(step.get("uses", "")) for step in job.get("steps") or [])
        if (job.get("runs-on") == "windows-11-arm" or attests) and not private_skips(job):
            yield f"job {job_id}: a private repository may not have it, and it is not skipped there"
        elif private_skips(job) and not any(
                "github.event.repository.private" == str(other.get("if", "")).strip("${} ") and
                "::notice" in str(other.get("steps")) for other in jobs.values()):
            yield f"job {job_id}: nothing says why it is skipped in a private repository"
    for job_id, job in jobs.items():
        needs = job.get("needs") or []
        needs = [needs] if isinstance(needs, str) else needs
        for needed in needs:
            if needed in jobs and private_skips(jobs[needed]):
                condition = str(job.get("if", ""))
                if f"needs.{needed}.result == 'skipped'" not in condition or \
                        not re.search(r"!cancelled\(\)|always\(\)", condition):
                    yield f"job {job_id}: it does not run when {needed} is skipped"


def check_signing_confined(name, workflow, text):
    """The signing secrets reach the step that signs, in an environment a maintainer can guard,
    are taken out of its environment before it runs anything, and the build before it has
    compiled everything: no package manager, build system or compiler runs with them."""
    for job_id, job in (workflow.get("jobs") or {}).items():
        built = False
        for step in job.get("steps") or []:
            script = str(step.get("run", ""))
            held = [var for var, value in (step.get("env") or {}).items()
                    if re.search(r"\$\{\{\s*secrets\.", str(value))]
            if held:
                if not job.get("environment"):
                    yield f"job {job_id}: the signing job has no deployment environment"
                first = script.strip().splitlines()[0] if script.strip() else ""
                taken = re.fullmatch(r"(export -n|unset)((?: \w+)+)", first.strip())
                if not taken or not set(held) <= set(taken.group(2).split()):
                    yield f"job {job_id}: {', '.join(held)} reach every program the step starts"
                if re.search(r"scripts/install-deps|\bcmake\b|\bninja\b|\bg\+\+|build-commit",
                             script):
                    yield f"job {job_id}: the step that holds the secrets installs or builds"
                if "scripts/release" in script and not (
                        built and (step.get("env") or {}).get("QUORVEL_BUILD_CACHE")):
                    yield f"job {job_id}: scripts/release compiles while it holds the secrets"
            elif "scripts/release" in script and (step.get("env") or {}).get(
                    "QUORVEL_BUILD_CACHE"):
                built = True


def check_publish_again(name, workflow, text):
    for job_id, _, _, script in runs(workflow):
        if "gh release create" in script and not (
                "gh release view" in script and re.search(r"gh release upload\b.*--clobber",
                                                          script)):
            yield f"job {job_id}: a second run fails where the release exists (no upload --clobber)"


def check_test_job_disk(name, workflow, text):
    for job_id, job in (workflow.get("jobs") or {}).items():
        job_steps = job.get("steps") or []
        if not any("scripts/test" in str(step.get("run", "")) for step in job_steps):
            continue
        disk = [i for i, step in enumerate(job_steps) if "df -h" in str(step.get("run", ""))]
        tests = [i for i, step in enumerate(job_steps) if "scripts/test" in str(step.get("run", ""))]
        if not disk or disk[0] > tests[0] or disk[-1] < tests[0] or \
                job_steps[disk[-1]].get("if") != "always()":
            yield f"job {job_id}: free disk is not shown before and after the tests"
        if not any("apt-get clean" in str(step.get("run", "")) for step in job_steps[:tests[0]]):
            yield f"job {job_id}: apt's cache is not cleaned before the tests"


def check_small_screen_said(name, workflow, text):
    for job_id, job in (workflow.get("jobs") or {}).items():
        if "selftest.cmd" not in str(job.get("steps")):
            continue
        if not any("::warning" in str(step.get("run", "")) and "1280" in str(step.get("if", ""))
                   for step in job.get("steps") or []):
            yield f"job {job_id}: a screen that stays at 1024 x 768 goes unsaid"
        uploads = [step for step in job.get("steps") or []
                   if str(step.get("uses", "")).startswith("actions/upload-artifact@")]
        if not any("selftest-*.bmp" in str(step.get("with", {}).get("path")) for step in uploads):
            yield f"job {job_id}: the screenshots of failures are not uploaded"


def check_push_workflow(name, workflow, text):
    on = triggers(workflow)
    if "push" not in on or "pull_request" not in on:
        yield "it does not run on push and pull request"
    matrix_jobs = [(job_id, job) for job_id, job in workflow.get("jobs", {}).items()
                   if "selftest.cmd" in str(job.get("steps"))]
    if len(matrix_jobs) != 1:
        yield f"{len(matrix_jobs)} jobs run selftest.cmd, not one"
        return
    job_id, job = matrix_jobs[0]
    strategy = job.get("strategy") or {}
    runners = {str(value) for values in (strategy.get("matrix") or {}).values()
               if isinstance(values, list) for value in values}
    for runner in ("windows-2022", "windows-2025"):
        if runner not in runners:
            yield f"job {job_id}: the Windows matrix does not name {runner}"
    if "matrix." not in str(job.get("runs-on")):
        yield f"job {job_id}: runs-on does not take the matrix's runner"
    if strategy.get("fail-fast") is not False:
        yield f"job {job_id}: fail-fast is not false: one Windows failing would cancel the other"
    timeout = job.get("timeout-minutes", 360)
    if not (isinstance(timeout, int) and 0 < timeout <= 20):
        yield f"job {job_id}: no time-out of at most 20 minutes"
    uploads = [step for step in job.get("steps", [])
               if str(step.get("uses", "")).startswith("actions/upload-artifact@")]
    kept = [step for step in uploads if step.get("if") == "always()" and
            "matrix." in str(step["with"].get("name")) and
            all(log in str(step["with"].get("path")) for log in ("selftest.log", "selftest.xml"))]
    if not kept:
        yield f"job {job_id}: selftest.log and selftest.xml are not always uploaded per runner"


def release_files(version):
    return [f"quorvel-{version}-win32.zip", f"quorvel-{version}-selftest-win32.zip",
            "quorvel.exe", "quorvel-inspect.exe", "SHA256SUMS"]


def check_release_workflow(name, workflow, text):
    tags = (triggers(workflow).get("push") or {}).get("tags") or []
    if tags != ["v*"]:
        yield f"it runs on tags {tags!r}, not on v*"
    scripts = [(job_id, script) for job_id, _, _, script in runs(workflow)]
    checks = [i for i, (_, script) in enumerate(scripts) if "tools/release/check-tag" in script]
    builds = [i for i, (_, script) in enumerate(scripts) if "scripts/release" in script]
    if not checks or not builds or checks[0] > builds[0] or \
            scripts[checks[0]][0] != scripts[builds[0]][0]:
        yield "the tag is not checked against the version before the release is built"
    # Packages install before any step holds a secret: no package's scripts run while the
    # password waits on scripts/release's standard input.
    for job_id, job in (workflow.get("jobs") or {}).items():
        installed = False
        for step in job.get("steps") or []:
            if SECRET.search(str(step.get("env", ""))) and "scripts/release" in \
                    str(step.get("run", "")) and not installed:
                yield f"job {job_id}: packages are installed while the secrets are in reach"
            installed = installed or "scripts/install-deps" in str(step.get("run", ""))
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as f:
        version = re.search(r"(?m)^project\(Quorvel VERSION ([0-9.]+) ", f.read()).group(1)
    attested = [line.strip() for _, _, step in steps(workflow)
                if "attest-build-provenance" in str(step.get("uses", ""))
                for line in str(step.get("with", {}).get("subject-path", "")).splitlines()]
    published = [word for _, script in scripts if "gh release create" in script
                 for word in script.replace("\\\n", " ").split() if word.startswith("dist/")]
    for file in release_files(version):
        if not any(fnmatch.fnmatch(f"dist/{file}", glob) for glob in attested):
            yield f"{file} is not attested"
        if not any(fnmatch.fnmatch(f"dist/{file}", glob) for glob in published):
            yield f"{file} is not published"
    if not any("gh release create" in script and "--draft" in script for _, script in scripts):
        yield "an unsigned release is not made a draft"


CHECKS = [check_top_permissions, check_rights_where_used, check_actions_pinned,
          check_commands_exist, check_selftest_never_waits, check_secrets, check_actions_current,
          check_uploads_survive, check_private_repository, check_signing_confined,
          check_publish_again]
CHECKS_BY_FILE = {"ci.yml": [check_push_workflow, check_test_job_disk, check_small_screen_said],
                  "release.yml": [check_release_workflow, check_release_pinned_by_commit]}


def problems(name, text, schema):
    found = [f"schema: {error}" for error in schema]
    try:
        workflow = yaml.safe_load(text)
    except yaml.YAMLError as error:
        return found + [f"not YAML: {error}"]
    for check in CHECKS + CHECKS_BY_FILE[name]:
        found += list(check(name, workflow, text))
    return found


# A copy of a workflow with one fault: (file, what is replaced, by what, what must be said).
BROKEN = [
    ("ci.yml", "selftest.cmd /nopause", "selftest.cmd", "without /nopause"),
    ("ci.yml", "os: [windows-2022, windows-2025]", "os: [windows-2022]", "windows-2025"),
    ("ci.yml", "fail-fast: false", "fail-fast: true", "fail-fast"),
    ("ci.yml", "run: scripts/release", "run: scripts/relase", "scripts/relase is no program"),
    ("ci.yml", "permissions:\n  contents: read", "permissions:\n  contents: write",
     "top-level permissions"),
    ("ci.yml", "uses: actions/checkout@v5", "uses: actions/checkout@main", "pinned to no version"),
    ("ci.yml", "uses: actions/checkout@v5", "uses: actions/checkout@v4", "runs on Node 20"),
    ("ci.yml", "uses: actions/upload-artifact@v6", "uses: actions/upload-artifact@v4",
     "runs on Node 20"),
    ("ci.yml", "uses: actions/download-artifact@v7", "uses: actions/download-artifact@v6",
     "runs on Node 20"),
    ("ci.yml", "        if: failure() || cancelled()\n", "        if: failure()\n",
     "on failure and on cancellation"),
    ("ci.yml", "        timeout-minutes: 28\n        run: scripts/test",
     "        run: scripts/test", "has no time-out of its own"),
    ("ci.yml", "        timeout-minutes: 12\n", "        timeout-minutes: 19\n",
     "leave the upload no time"),
    ("ci.yml", "    if: ${{ !github.event.repository.private }}\n    runs-on: windows-11-arm",
     "    runs-on: windows-11-arm", "not skipped there"),
    ("ci.yml", "echo \"::notice title=windows-11-arm skipped::", "echo \"",
     "nothing says why"),
    ("ci.yml", "      - name: Free disk after\n        if: always()\n",
     "      - name: Free disk after\n", "free disk is not shown"),
    ("ci.yml", "          apt-get clean\n", "", "apt's cache"),
    ("ci.yml", "            Quorvel kit/selftest-*.bmp\n", "", "screenshots of failures"),
    ("ci.yml", "fromJSON(steps.screen.outputs.width) < 1280", "false", "goes unsaid"),
    ("ci.yml", "runs-on: ${{ matrix.os }}", "run-on: ${{ matrix.os }}", "schema:"),
    ("ci.yml", "timeout-minutes: 20", "timeout-minutes: twenty", "schema:"),
    ("ci.yml", "        if: always()\n        with:\n          name: selftest-",
     "        with:\n          name: selftest-", "always uploaded"),
    ("release.yml", "printf '%s' \"$SIGNING_PKCS12_PASSWORD\" |",
     "echo \"$SIGNING_PKCS12_PASSWORD\" |", "may be shown"),
    ("release.yml", "--sign-pin-file -", "--sign-pin-file - --pin \"$SIGNING_PKCS12_PASSWORD\"",
     "may be shown"),
    ("release.yml", "echo \"signed=true\" >>\"$GITHUB_OUTPUT\"",
     "echo \"signed=true $SIGNING_PKCS12_BASE64\" >>\"$GITHUB_OUTPUT\"", "may be shown"),
    ("release.yml", "printf '%s' \"$SIGNING_PKCS12_PASSWORD\" |",
     "printf '%s' \"${{ secrets.SIGNING_PKCS12_PASSWORD }}\" |", "written into a run script"),
    ("release.yml", "          export -n SIGNING_PKCS12_BASE64 SIGNING_PKCS12_PASSWORD\n",
     "          export -n SIGNING_PKCS12_BASE64 SIGNING_PKCS12_PASSWORD\n          set -x\n",
     "traces its commands"),
    ("release.yml", "          export -n SIGNING_PKCS12_BASE64 SIGNING_PKCS12_PASSWORD\n", "",
     "reach every program"),
    ("release.yml", "    environment: release-signing\n", "", "no deployment environment"),
    ("release.yml", "        run: scripts/release\n", "        run: true\n",
     "compiles while it holds"),
    ("release.yml", "          export -n SIGNING_PKCS12_BASE64 SIGNING_PKCS12_PASSWORD\n",
     "          export -n SIGNING_PKCS12_BASE64 SIGNING_PKCS12_PASSWORD\n          cmake --version\n",
     "installs or builds"),
    ("release.yml", "actions/checkout@fbc6f3992d24b796d5a048ff273f7fcc4a7b6c09",
     "actions/checkout@v5", "not pinned to a commit"),
    ("release.yml", "actions/checkout@fbc6f3992d24b796d5a048ff273f7fcc4a7b6c09",
     "actions/checkout@11bd71901bbe5b1630ceea73d27597364c9af683", "no commit of a known release"),
    ("release.yml", "    if: ${{ !github.event.repository.private }}\n    runs-on: ubuntu-24.04\n"
     "    timeout-minutes: 10\n    permissions:\n      contents: read\n      id-token",
     "    runs-on: ubuntu-24.04\n    timeout-minutes: 10\n    permissions:\n"
     "      contents: read\n      id-token", "not skipped there"),
    ("release.yml", " || needs.attest.result == 'skipped'", "", "when attest is skipped"),
    ("release.yml", "gh release upload \"$TAG\" --clobber", "gh release upload \"$TAG\"",
     "no upload --clobber"),
    ("release.yml", "        timeout-minutes: 10\n        run: scripts/install-deps\n",
     "        timeout-minutes: 10\n        run: true\n", "installed while the secrets"),
    ("release.yml", "run: tools/release/check-tag \"$TAG\"", "run: echo \"$TAG\"",
     "tag is not checked"),
    ("release.yml", "            dist/SHA256SUMS\n\n", "\n", "SHA256SUMS is not attested"),
    ("release.yml", "notes=$RUNNER_TEMP/notes.md",
     "notes=$RUNNER_TEMP/notes.md; echo \"$GH_TOKEN\"",
     "the secret in GH_TOKEN"),
    ("release.yml", "    permissions:\n      contents: write\n", "",
     "contents: write belongs"),
]

failures = []
texts = {}
for name in sorted(CHECKS_BY_FILE):
    with open(os.path.join(workflows, name), encoding="utf-8") as f:
        texts[name] = f.read()
    found = problems(name, texts[name], schema_errors_by_cli(texts[name]))
    print(f"{name}: {'valid' if not found else 'REFUSED'}")
    failures += [f"{name}: {problem}" for problem in found]

# One copy broken against the schema goes the way the real files go, through the validator's
# command: a command that passed everything would pass them too.
if CLI:
    schema_broken = texts["ci.yml"].replace("runs-on: ${{ matrix.os }}",
                                            "run-on: ${{ matrix.os }}", 1)
    refused = schema_errors_by_cli(schema_broken)
    if refused:
        print(f"refused, as it must be, by the validator's command: a ci.yml where {refused[0]}")
    else:
        failures.append("the validator's command passed a ci.yml without runs-on")

broken = [texts[name].replace(old, new, 1) for name, old, new, _ in BROKEN]
for (name, old, new, says), text, schema in zip(BROKEN, broken, schema_errors_batch(broken)):
    if old not in texts[name]:
        failures.append(f"broken copy: '{old}' is not in {name} any more: update the table")
        continue
    if not CLI and says == "schema:":
        continue
    found = problems(name, text, schema)
    said = [problem for problem in found if says in problem]
    if said:
        print(f"refused, as it must be: a {name} where {said[0]}")
    else:
        failures.append(f"{name} with '{new.strip()[:60]}' was not refused for '{says}': {found}")

# The tag a release is made from must be v and the version CMake declares, exactly.
with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as f:
    version = re.search(r"(?m)^project\(Quorvel VERSION ([0-9.]+) ", f.read()).group(1)
for tag, code in [(f"v{version}", 0), (version, 1), (f"V{version}", 1), (f"v{version}-rc1", 1),
                  (f"v{version}.0", 1), ("v", 1), (f"v{version}\n", 1)]:
    got = subprocess.run([os.path.join(source, "tools", "release", "check-tag"), tag],
                         cwd=source, capture_output=True).returncode
    if got != code:
        failures.append(f"check-tag {tag!r} exited with {got}, not {code}")

for failure in failures:
    print(f"FAIL: {failure}", file=sys.stderr)
if failures:
    print("the workflows' check failed")
    sys.exit(1)
if not CLI:
    print(f"SKIPPED: GitHub's schema was not checked: {UNREACHED}; everything else holds")
    sys.exit(77)
print(f"{len(BROKEN)} broken copies refused")
