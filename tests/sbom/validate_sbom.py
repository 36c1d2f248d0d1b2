#!/usr/bin/env python3
"""Validates a CycloneDX 1.6 JSON document a second way, independent of validate_sbom.js: Debian's
python3-jsonschema (draft 7, with the formats it can check) against the official schema files
that the pinned CycloneDX library package carries.
  validate_sbom.py SCHEMA_DIR FILE
Prints "valid" or each schema error; exits 0, 1 when invalid, 2 when a file cannot be had."""
import json
import os
import sys

import jsonschema

if len(sys.argv) != 3:
    sys.exit("usage: validate_sbom.py SCHEMA_DIR FILE")
folder, document = sys.argv[1:]
try:
    schemas = {}
    for name in ("bom-1.6", "spdx", "jsf-0.82"):
        with open(os.path.join(folder, f"{name}.SNAPSHOT.schema.json"), encoding="utf-8") as text:
            schemas[name] = json.load(text)
    with open(document, encoding="utf-8") as text:
        bom = json.load(text)
except (OSError, ValueError) as error:
    print(f"validate_sbom.py: {error}")
    sys.exit(2)
# The main schema names the other two relative to its own address.
base = "http://cyclonedx.org/schema/"
store = {base + f"{name}.SNAPSHOT.schema.json": schema for name, schema in schemas.items()}
try:
    # python3-jsonschema 4.18 and later (Debian 13) resolve references through a registry, in
    # which each schema keeps its own address for the references inside it.
    from referencing import Registry, Resource
    from referencing.jsonschema import DRAFT7

    references = {"registry": Registry().with_resources(
        (address, Resource(contents=schema, specification=DRAFT7))
        for address, schema in store.items())}
except ImportError:
    # Earlier ones (Debian 12's 4.10) through a resolver.
    references = {"resolver": jsonschema.RefResolver.from_schema(schemas["bom-1.6"], store=store)}


def additional_items(validator, allowed, instance, schema):
    """Draft 7's additionalItems, as the library has it, but with a message that does not sort
    the extra items (python3-jsonschema 4.10 fails on items that are objects)."""
    items = schema.get("items", {})
    if not validator.is_type(instance, "array") or validator.is_type(items, "object"):
        return
    if validator.is_type(allowed, "object"):
        for index, item in enumerate(instance[len(items):], start=len(items)):
            yield from validator.descend(item, allowed, path=index)
    elif not allowed and len(instance) > len(items):
        yield jsonschema.ValidationError(
            f"{len(instance) - len(items)} more items than the {len(items)} allowed")


Validator = jsonschema.validators.extend(jsonschema.Draft7Validator,
                                         {"additionalItems": additional_items})
validator = Validator(schemas["bom-1.6"], format_checker=jsonschema.FormatChecker(), **references)
errors = sorted(validator.iter_errors(bom), key=lambda e: list(e.absolute_path))
for error in errors:
    print(f"  /{'/'.join(map(str, error.absolute_path))}: {error.message[:300]}")
print(f"{document}: {'NOT ' if errors else ''}valid CycloneDX 1.6 (python-jsonschema, draft 7)")
sys.exit(1 if errors else 0)
