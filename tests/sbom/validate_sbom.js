// Validates a CycloneDX 1.6 JSON document with the CycloneDX library's strict JSON validator,
// which applies the project's official schemas shipped in the library package.
// Usage: node validate_sbom.js FILE. Prints "valid" and exits 0, or prints each schema error and
// exits 1; 2 when the file or the validator cannot be had.
'use strict';
const fs = require('node:fs');
const CDX = require('@cyclonedx/cyclonedx-library');

async function main(file) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (err) {
    console.log(`validate_sbom: cannot read ${file}: ${err.message}`);
    return 2;
  }
  const validator = new CDX.Validation.JsonStrictValidator(CDX.Spec.Version.v1dot6);
  const errors = await validator.validate(text);
  if (errors === null) {
    console.log(`${file}: valid CycloneDX 1.6 (strict JSON schema)`);
    return 0;
  }
  console.log(`${file}: NOT valid CycloneDX 1.6:`);
  for (const error of [].concat(errors)) {
    console.log(`  ${error.instancePath || '/'}: ${error.message} ${JSON.stringify(error.params)}`);
  }
  return 1;
}

if (process.argv.length !== 3) {
  console.log('usage: validate_sbom.js FILE');
  process.exitCode = 2;
} else {
  main(process.argv[2]).then(
    (code) => { process.exitCode = code; },
    (err) => { console.log(`validate_sbom: ${err.message}`); process.exitCode = 2; });
}
