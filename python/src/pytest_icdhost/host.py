"""icdhost as a child process driven through its standard input, one command a line.

Each batch of commands is followed by an ``echo`` of a mark, and the output up to that mark is the
batch's output: standard output and standard error together, in the order icdhost wrote them.
Output of event callables runs on the bridges' threads and lands wherever it happens to: call
``sync()`` after events whose output matters."""

import os
import queue
import re
import shutil
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, Iterable, List, Optional, Sequence, Type, Union

from .text import Value, normalise, quote, read_value, split_value, word

PathLike = Union[str, "os.PathLike[str]"]

_MARK = "@@pytest-icdhost@@"
_STRICT_LINE = re.compile(r"icdhost: --strict: the scripts reported ([0-9]+) errors?$")
_ACTION_LINE = re.compile(r"( *)([0-9]+) (.*) type=(-?[0-9]+) kind=(-?[0-9]+)( checked)?")


class IcdhostError(Exception):
    """icdhost did not do what was asked; the message ends with the whole transcript."""


class CommandFailed(IcdhostError):
    """A command printed ``icdhost: line N: REASON``; ``reason`` holds REASON."""

    def __init__(self, message: str, reason: str) -> None:
        super().__init__(message)
        self.reason = reason


class PythonError(CommandFailed):
    """``py`` code raised; ``traceback`` holds the traceback icdhost printed."""

    def __init__(self, message: str, reason: str, traceback: str) -> None:
        super().__init__(message, reason)
        self.traceback = traceback


class IcdhostExited(IcdhostError):
    """icdhost ended (or was ended after a timeout) while output was awaited."""


@dataclass(frozen=True)
class Field:
    """A field as ``get`` shows it: ``value`` and ``raw`` typed (a string field's raw is its raw
    text), the encoder's name and whether anyone holds a reservation."""

    name: str
    value: Value
    raw: Union[int, str]
    encoder: str
    reserved: bool


@dataclass(frozen=True)
class Action:
    """One line of ``actions``: ``depth`` is 0 for a top-level action."""

    id: int
    name: str
    type: int
    kind: int
    checked: bool
    depth: int


class Icdhost:
    """One running icdhost. Made by the ``icdhost`` fixture, which closes it at the end of the
    test; usable on its own as a context manager."""

    def __init__(self, executable: PathLike, icds: Sequence[PathLike],
                 scripts: Sequence[PathLike], *, cwd: Optional[PathLike] = None,
                 strict: bool = True, args: Iterable[str] = (), timeout: float = 30.0,
                 env: Optional[Dict[str, str]] = None) -> None:
        command = [str(executable)]
        for icd in icds:
            command += ["--icd", str(icd)]
        for script in scripts:
            command += ["--script", str(script)]
        if strict:
            command.append("--strict")
        command += list(args)
        self.command = command
        self.timeout = timeout
        self.strict = strict
        #: Every line icdhost wrote, and each command sent as "> COMMAND", in order.
        self.transcript: List[str] = []
        self.returncode: Optional[int] = None
        #: Errors the scripts reported (known once icdhost has ended, with strict on).
        self.script_errors = 0
        self._expects_script_errors = False
        self._command_errors = 0
        self._mismatches = 0
        self._line = 0
        self._event_output: List[str] = []
        # Text read after a mark, which belongs to the next exchange.
        self._carry: List[str] = []
        self._lines: "queue.Queue[Optional[str]]" = queue.Queue()
        self._process = subprocess.Popen(
            command, cwd=None if cwd is None else str(cwd), env=env, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        #: What start-up printed (normalised): the plug-ins' creation and their scripts' output.
        self.startup = [normalise(line) for line in self._exchange([])]

    # The command language.

    def send(self, *commands: str, check: bool = True) -> List[str]:
        """Runs the commands; gives their output lines, normalised. Raises CommandFailed for a
        command that failed (unless ``check`` is false) and AssertionError for an ``expect``
        command that found something else."""
        return [normalise(line) for line in self._run(commands, check)]

    def plugin(self, number: int) -> None:
        self._run(["plugin %d" % number])

    def icd(self, number: int) -> None:
        self._run(["icd %d" % number])

    def start(self) -> List[str]:
        return self.send("start")

    def stop(self) -> List[str]:
        return self.send("stop")

    def plugins(self) -> List[str]:
        return self.send("plugins")

    def field(self, name: str) -> Field:
        """The field MSG.FIELD of the selected ICD as ``get`` shows it."""
        prefix = name + " value="
        for line in self._run(["get " + name]):
            if line.startswith(prefix):
                return _read_field(name, line[len(prefix):])
        raise self._error(IcdhostError, "get %s printed no field line" % name)

    def set(self, name: str, value: Value) -> Optional[Union[int, str]]:
        """Sets and encodes a field; gives the raw word (a string field's raw text), or None when
        the encode failed."""
        text = value if isinstance(value, str) else word(value)
        return self._raw_result(name, self._run(["set %s %s" % (name, quote(str(text)))]))

    def decode(self, name: str, raw: Union[int, str], signed: bool = False) -> Value:
        """Stores a raw word (or a string field's raw text) and decodes it; gives the value, or
        raises IcdhostError when the decode failed."""
        command = "decode %s %s%s" % (name, quote(str(raw)), " signed" if signed else "")
        prefix = name + " value="
        for line in self._run([command]):
            if line.startswith(prefix):
                return read_value(line[len(prefix):])
        raise self._error(IcdhostError, "decode %s %r failed" % (name, raw))

    def actions(self) -> List[Action]:
        """The selected plug-in's actions, depth-first."""
        found = []
        for line in self._run(["actions"]):
            match = _ACTION_LINE.fullmatch(line)
            if match:
                found.append(Action(int(match.group(2)), match.group(3), int(match.group(4)),
                                    int(match.group(5)), bool(match.group(6)),
                                    len(match.group(1)) // 2))
        return found

    def action(self, action_id: int) -> List[str]:
        """Runs a menu action of the selected plug-in; gives what it printed."""
        return self.send("action %d" % action_id)

    def exec(self, action_id: int, **inputs: Value) -> Optional[Dict[str, Value]]:
        """Runs a dictionary action with these inputs (texts are always passed as texts); gives
        its outputs, or None when it failed."""
        words = ["exec %d" % action_id]
        for key, value in inputs.items():
            words.append(quote(key) + "=" + word(value))
        lines = self._run([" ".join(words)])
        if "ok" not in lines:
            if "failed" in lines:
                return None
            raise self._error(IcdhostError, "exec %d printed neither ok nor failed" % action_id)
        outputs: Dict[str, Value] = {}
        for line in lines[lines.index("ok") + 1:]:
            if line.startswith("  ") and " = " in line:
                key, _, value = line[2:].partition(" = ")
                outputs[key] = read_value(value)
        return outputs

    def help(self, action_id: int) -> str:
        return "\n".join(self._run(["help %d" % action_id]))

    def event(self, number: int, data: int = 0) -> None:
        """The selected ICD delivers an event; its callables run later on their bridges' threads.
        What they print before the ``event`` command returns is kept for ``sync()``."""
        self._event_output += self.send("event %d %d" % (number, data))

    def answer(self, *answers: Value) -> None:
        """Queues the answers of the next dialogs: a number for a message box, a text for the
        others, None to cancel."""
        self._run(["answer " + (word(a) if not isinstance(a, str) else quote(a)) for a in answers])

    def sync(self) -> List[str]:
        """Waits until every event has been delivered; gives what was printed since the events
        were raised (normalised)."""
        output, self._event_output = self._event_output + self.send("sync"), []
        return output

    def py(self, code: str) -> str:
        """Runs one line of Python in the selected plug-in's script namespace; gives repr() of an
        expression's value or what the code printed, normalised. Raises PythonError when it
        raised."""
        if "\n" in code:
            raise ValueError("py runs one line; run each statement on its own")
        number = self._line + 1
        try:
            lines = self._run(["py " + code])
        except CommandFailed as error:
            mark = "icdhost: line %d: " % number
            recent = self._recent_output()
            traceback = "\n".join(line for line in recent if not line.startswith(mark))
            raise PythonError(str(error), error.reason, traceback) from None
        return "\n".join(normalise(line) for line in lines)

    # The end of the run.

    def expect_script_errors(self) -> None:
        """Says that this test expects its scripts to report errors: closing then fails when they
        reported none instead of when they reported some."""
        self._expects_script_errors = True

    def close(self) -> int:
        """Ends icdhost (end of input) and gives its exit status; idempotent."""
        if self.returncode is None:
            try:
                if self._process.stdin is not None:
                    self._process.stdin.close()
            except OSError:
                pass
            try:
                self._process.wait(self.timeout)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
                self.transcript.append("(icdhost killed after %g s)" % self.timeout)
            self._reader.join(self.timeout)
            for line in self._carry:
                self._record(line)
            self._carry = []
            while True:
                try:
                    pending = self._lines.get_nowait()
                except queue.Empty:
                    break
                if pending is not None:
                    self._record(pending)
            self.returncode = self._process.returncode
            if self._process.stdout is not None:
                self._process.stdout.close()
        return self.returncode

    def problems(self) -> List[str]:
        """Closes icdhost and lists what went wrong in the run that the test did not already see:
        script errors (unless expected), a missing expected script error, failed commands that
        were not reported, a crash."""
        status = self.close()
        found = []
        if self.strict and self.script_errors and not self._expects_script_errors:
            found.append("the scripts reported %d error%s" %
                         (self.script_errors, "" if self.script_errors == 1 else "s"))
        if self.strict and self._expects_script_errors and not self.script_errors:
            found.append("the test expected a script error, but the scripts reported none")
        explained = {0, 1 if self._command_errors else 0, 4 if self._mismatches else 0,
                     3 if self.script_errors else 0}
        if status not in explained:
            found.append("icdhost ended with status %s" % status)
        return found

    def __enter__(self) -> "Icdhost":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def format_transcript(self) -> str:
        return "\n".join(self.transcript)

    # Plumbing.

    def _read(self) -> None:
        assert self._process.stdout is not None
        for raw in self._process.stdout:
            self._lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self._lines.put(None)

    def _record(self, line: str) -> None:
        match = _STRICT_LINE.fullmatch(line)
        if match:
            self.script_errors = int(match.group(1))
        self.transcript.append(line)

    def _write(self, text: str) -> None:
        try:
            assert self._process.stdin is not None
            self._process.stdin.write(text.encode("utf-8"))
            self._process.stdin.flush()
        except OSError:
            pass  # icdhost has ended: the wait for the mark reports it

    def _exchange(self, commands: Sequence[str]) -> List[str]:
        """Sends the commands and a mark; gives every line up to the mark."""
        for command in commands:
            if "\n" in command or "\r" in command:
                raise ValueError("one command a line: %r" % command)
            self._line += 1
            self.transcript.append("> " + command)
            self._write(command + "\n")
        self._line += 1
        mark = "%s%d@@" % (_MARK, self._line)
        self._write("echo %s\n" % mark)
        self._start = len(self.transcript)
        output = []
        deadline = time.monotonic() + self.timeout
        while True:
            try:
                line = self._carry.pop(0) if self._carry else self._lines.get(
                    timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                self._process.kill()
                self.close()
                raise self._error(IcdhostExited, "no answer from icdhost within %g s" %
                                  self.timeout) from None
            if line is None:
                self.close()
                raise self._error(IcdhostExited, "icdhost ended with status %s" %
                                  self.returncode)
            # A line that another thread wrote in pieces may hold the mark amid its text.
            before, found, after = line.partition(mark)
            if before:
                self._record(before)
                output.append(before)
            if found:
                if after:
                    self._carry.append(after)
                return output

    def _run(self, commands: Sequence[str], check: bool = True) -> List[str]:
        first = self._line + 1
        output = self._exchange(list(commands))
        for number in range(first, first + len(commands)):
            mark = "icdhost: line %d: " % number
            for line in output:
                if not line.startswith(mark):
                    continue
                reason = line[len(mark):]
                if reason.startswith("expected "):
                    self._mismatches += 1
                    raise AssertionError(normalise(reason) + "\n\n" + self.format_transcript())
                self._command_errors += 1
                if check:
                    raise self._error(CommandFailed, reason, reason)
        return output

    def _recent_output(self) -> List[str]:
        return [line for line in self.transcript[self._start:] if not line.startswith("> ")]

    def _raw_result(self, name: str, lines: List[str]) -> Optional[Union[int, str]]:
        prefix = name + " raw="
        for line in lines:
            if line.startswith(prefix):
                raw = read_value(line[len(prefix):])
                return raw if isinstance(raw, (int, str)) else str(raw)
            if line == name + " encode failed":
                return None
        raise self._error(IcdhostError, "set %s printed no result" % name)

    def _error(self, kind: Type[IcdhostError], message: str, *details: str) -> IcdhostError:
        text = "%s\n\nicdhost transcript (%s):\n%s" % (message, " ".join(self.command),
                                                      self.format_transcript())
        return kind(text, *details)


def _read_field(name: str, text: str) -> Field:
    value, rest = split_value(text)
    if not rest.startswith("raw="):
        raise ValueError("not a field line: %s value=%s" % (name, text))
    raw, rest = split_value(rest[len("raw="):])
    encoder, _, reserved = rest[len("encoder="):].rpartition(" reserved=")
    raw_value = read_value(raw)
    return Field(name, read_value(value), raw_value if isinstance(raw_value, (int, str))
                 else str(raw_value), encoder, reserved == "yes")


def find_executable(explicit: Optional[PathLike] = None) -> str:
    """The icdhost to run: ``explicit``, else the environment variable ICDHOST, else the one
    installed beside this package, else icdhost on PATH."""
    if explicit:
        return str(explicit)
    if os.environ.get("ICDHOST"):
        return os.environ["ICDHOST"]
    try:
        # Written by the project's cmake --install; absent from a pip installation.
        from ._installed import ICDHOST  # type: ignore[import]
        if Path(str(ICDHOST)).is_file():
            return str(ICDHOST)
    except ImportError:
        pass
    found = shutil.which("icdhost")
    if found:
        return found
    raise IcdhostError("icdhost not found: pass --icdhost PATH to pytest, set ICDHOST, or put "
                       "icdhost on PATH")
