// Reads an SBOM that diag-host wrote and prints each package URL in it as the package-URL library
// parses it back: one JSON array [type, namespace, name, version, qualifiers] per line. With
// --cyclonedx, first validates the document with the CycloneDX library in strict mode and exits
// with 1 when it is not valid.
'use strict';
const fs = require('fs');
const { PackageURL } = require('packageurl-js');
const CDX = require('@cyclonedx/cyclonedx-library');

function collectPurls(value, found) {
  if (Array.isArray(value)) {
    value.forEach((item) => collectPurls(item, found));
  } else if (value !== null && typeof value === 'object') {
    for (const [key, member] of Object.entries(value)) {
      if (key === 'purl' || (key === 'referenceLocator' && value.referenceType === 'purl')) {
        found.push(member);
      } else {
        collectPurls(member, found);
      }
    }
  }
  return found;
}

async function main() {
  const cyclonedx = process.argv[2] === '--cyclonedx';
  const text = fs.readFileSync(process.argv[cyclonedx ? 3 : 2], 'utf8');
  if (cyclonedx) {
    const validator = new CDX.Validation.JsonStrictValidator(CDX.Spec.Version.v1dot6);
    const errors = await validator.validate(text);
    if (errors !== null) {
      console.error(JSON.stringify(errors, null, 2));
      process.exit(1);
    }
  }
  for (const purl of collectPurls(JSON.parse(text), [])) {
    const parsed = PackageURL.fromString(purl);
    console.log(JSON.stringify([parsed.type, parsed.namespace ?? null, parsed.name,
      parsed.version ?? null, parsed.qualifiers ?? null]));
  }
}

main().catch((error) => {
  console.error(String(error));
  process.exit(2);
});
