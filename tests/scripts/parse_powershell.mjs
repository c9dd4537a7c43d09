// Parses PowerShell files with the tree-sitter grammar and reports every
// ERROR or MISSING node with its position. Exit status: 0 when every file
// parses cleanly, 1 when any file has a syntax fault, 2 on a usage or setup
// problem.
//
// Usage: node parse_powershell.mjs FILE...
//
// The grammar lives in .tools/node/node_modules (installed by scripts/setup);
// NIVALTO_NODE_MODULES points elsewhere when set. ES modules do not search
// NODE_PATH, so the packages are resolved from that folder explicitly.

import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.NIVALTO_NODE_MODULES ??
    path.resolve(here, '..', '..', '.tools', 'node', 'node_modules');

async function load(name) {
  const require = createRequire(path.join(modules, 'resolve-from-here.js'));
  let entry;
  try {
    entry = require.resolve(name);
  } catch {
    console.error(`parse_powershell: ${name} is not installed in ${modules} (run scripts/setup)`);
    process.exit(2);
  }
  return (await import(pathToFileURL(entry).href)).default;
}

// 1-based line and column, as editors show them.
function position(point) {
  return `${point.row + 1}:${point.column + 1}`;
}

// Every ERROR or MISSING node under root, in document order. Descends only
// into subtrees that contain a fault, so a clean file costs one check.
function faults(root) {
  const found = [];
  const pending = [root];
  while (pending.length > 0) {
    const node = pending.pop();
    if (node.isMissing) {
      found.push({ kind: 'MISSING', node });
    } else if (node.type === 'ERROR') {
      found.push({ kind: 'ERROR', node });
    }
    if (node.hasError) {
      for (let i = node.childCount - 1; i >= 0; i--) pending.push(node.child(i));
    }
  }
  return found;
}

const files = process.argv.slice(2);
if (files.length === 0) {
  console.error('usage: node parse_powershell.mjs FILE...');
  process.exit(2);
}

const Parser = await load('tree-sitter');
const PowerShell = await load('tree-sitter-powershell');
const parser = new Parser();
parser.setLanguage(PowerShell);

let failed = false;
for (const file of files) {
  const text = readFileSync(file, 'utf8');
  // The default input buffer of the binding is too small for a whole script.
  const tree = parser.parse(text, null, { bufferSize: Math.max(text.length * 2, 1024) });
  const list = faults(tree.rootNode);
  if (list.length === 0 && !tree.rootNode.hasError) {
    console.log(`${file}: ok`);
    continue;
  }
  failed = true;
  if (list.length === 0) {
    console.log(`${file}: syntax error (no ERROR or MISSING node located)`);
  }
  for (const { kind, node } of list) {
    const what = kind === 'MISSING' ? `MISSING ${node.type}` : 'ERROR';
    const excerpt = node.text.split('\n')[0].slice(0, 60);
    console.log(`${file}:${position(node.startPosition)}: ${what} near ${JSON.stringify(excerpt)}`);
  }
}
process.exit(failed ? 1 : 0);
