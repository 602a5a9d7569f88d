// Validates a CycloneDX JSON document with the CycloneDX library's strict validator (the
// format's published JSON schema for the document's specVersion, formats checked).
//   node validate.js BOM.json
// Prints "valid CycloneDX <version>" and exits 0, or prints what is wrong and exits 1.
'use strict';
const fs = require('fs');
const { Validation } = require('@cyclonedx/cyclonedx-library');

// The format version the package's bill of materials is written in.
const written_version = '1.5';

async function main(path) {
  const text = fs.readFileSync(path, 'utf8');
  const version = JSON.parse(text).specVersion;
  if (version !== written_version) {
    throw new Error(`specVersion ${JSON.stringify(version)}, expected ${written_version}`);
  }
  const errors = await new Validation.JsonStrictValidator(version).validate(text);
  if (errors !== null) {
    console.log(JSON.stringify(errors, null, 2));
    throw new Error(`not valid CycloneDX ${version}`);
  }
  console.log(`valid CycloneDX ${version}`);
}

main(process.argv[2]).catch((error) => {
  console.log(`validate.js: ${error.message}`);
  process.exit(1);
});
