#!/usr/bin/env python3
"""Validates every JSON output of qiro7-cli against its schema in cli/schemas/.

Runs the real program on the simulated instrument (list, info, get, error and log with --json;
measure --format jsonl with and without --timestamps; the summary of measure --json on standard
error), and the documents json_documents writes for the cases the simulated instrument cannot
bring about. Every document must be one line, valid against its schema, and rejected by it once
an unknown member is added. Exit status 0 when all hold, 1 otherwise.
"""

import argparse
import json
import pathlib
import subprocess
import sys

import jsonschema

DEMO = ["--demo", "--demo-fast-clock"]
SAMPLES = 5
RUN = ["measure", "--interval", "0", "--count", str(SAMPLES)]


class Checker:
    def __init__(self, schema_folder):
        self.schemas = {}
        for path in sorted(pathlib.Path(schema_folder).glob("*.schema.json")):
            schema = json.loads(path.read_text(encoding="utf-8"))
            jsonschema.Draft202012Validator.check_schema(schema)
            self.schemas[path.name] = (path.resolve().as_uri(), schema)
        self.store = {uri: schema for uri, schema in self.schemas.values()}
        self.failures = 0

    def fail(self, what, reason):
        self.failures += 1
        print(f"FAIL {what}: {reason}")

    def validator(self, schema_name):
        """References between the files resolve by their file: URIs, so no schema is fetched."""
        uri, schema = self.schemas[schema_name]
        schema = dict(schema, **{"$id": uri})
        try:
            import referencing  # jsonschema 4.18 and later
        except ImportError:
            resolver = jsonschema.RefResolver(uri, schema, store=self.store)
            return jsonschema.Draft202012Validator(schema, resolver=resolver)
        registry = referencing.Registry().with_resources(
            (stored_uri, referencing.Resource.from_contents(
                stored, default_specification=referencing.jsonschema.DRAFT202012))
            for stored_uri, stored in self.store.items())
        return jsonschema.Draft202012Validator(schema, registry=registry)

    def check_line(self, what, schema_name, line):
        """One document on one line, valid, and strict about unknown members."""
        try:
            document = json.loads(line)
        except ValueError as error:
            self.fail(what, f"not JSON ({error}): {line!r}")
            return None
        validator = self.validator(schema_name)
        errors = sorted(validator.iter_errors(document), key=str)
        if errors:
            self.fail(what, f"{schema_name}: {errors[0].message} at {list(errors[0].path)}")
            return None
        if validator.is_valid(dict(document, unexpectedMember=1)):
            self.fail(what, f"{schema_name} accepts an unknown member")
            return None
        print(f"ok   {what}")
        return document


def run(command, what, checker):
    result = subprocess.run(command, capture_output=True, timeout=60, check=False)
    if result.returncode != 0:
        checker.fail(what, f"exit status {result.returncode}: {result.stderr.decode(errors='replace')}")
        return None
    return result


def check_single(cli, checker, arguments, schema_name):
    what = "qiro7-cli " + " ".join(arguments)
    result = run([cli, *arguments, *DEMO], what, checker)
    if result is None:
        return
    lines = result.stdout.decode("utf-8").splitlines(keepends=True)
    if len(lines) != 1 or not lines[0].endswith("\n"):
        checker.fail(what, f"not one line: {result.stdout!r}")
        return
    checker.check_line(what, schema_name, lines[0])


def check_jsonl_run(cli, checker, timestamps):
    arguments = [*RUN, "--format", "jsonl", *(["--timestamps"] if timestamps else [])]
    what = "qiro7-cli " + " ".join(arguments)
    result = run([cli, *arguments, *DEMO], what, checker)
    if result is None:
        return
    lines = result.stdout.decode("utf-8").splitlines()
    for number, line in enumerate(lines[:SAMPLES], start=1):
        sample = checker.check_line(f"{what}: sample {number}", "sample.schema.json", line)
        if sample is not None and ("time" in sample) != timestamps:
            checker.fail(what, f"sample {number} has a time: {'time' in sample}")
    if len(lines) != SAMPLES + 1:
        checker.fail(what, f"{len(lines)} lines, not {SAMPLES} samples and the summary")
        return
    checker.check_line(f"{what}: summary", "summary.schema.json", lines[-1])


def check_summary_on_standard_error(cli, checker):
    arguments = [*RUN, "--json"]
    what = "qiro7-cli " + " ".join(arguments) + " (standard error)"
    result = run([cli, *arguments, *DEMO], what, checker)
    if result is None:
        return
    objects = [line for line in result.stderr.decode("utf-8").splitlines() if line.startswith("{")]
    if len(objects) != 1:
        checker.fail(what, f"{len(objects)} JSON objects on standard error, not 1")
        return
    checker.check_line(what, "summary.schema.json", objects[0])


def check_written_documents(documents, checker):
    result = run([documents], "json_documents", checker)
    if result is None:
        return
    for number, line in enumerate(result.stdout.decode("utf-8").splitlines(), start=1):
        schema_name, _, document = line.partition("\t")
        if schema_name not in checker.schemas:
            checker.fail(f"json_documents line {number}", f"no schema {schema_name!r}")
            continue
        checker.check_line(f"json_documents line {number} ({schema_name})", schema_name, document)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True, help="the qiro7-cli program")
    parser.add_argument("--documents", required=True, help="the json_documents program")
    parser.add_argument("--schemas", required=True, help="the folder of the schema files")
    arguments = parser.parse_args()

    checker = Checker(arguments.schemas)
    for command, schema_name in [
        (["list", "--json"], "list.schema.json"),
        (["info", "--json"], "info.schema.json"),
        (["get", "--json"], "conditions.schema.json"),
        (["error", "--json"], "error.schema.json"),
        (["log", "--json"], "log.schema.json"),
    ]:
        check_single(arguments.cli, checker, command, schema_name)
    check_jsonl_run(arguments.cli, checker, timestamps=False)
    check_jsonl_run(arguments.cli, checker, timestamps=True)
    check_summary_on_standard_error(arguments.cli, checker)
    check_written_documents(arguments.documents, checker)

    print(f"{checker.failures} failed" if checker.failures else "all documents match their schemas")
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
