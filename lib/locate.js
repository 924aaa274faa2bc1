'use strict';
// Finds and loads the native addon KOVAElectronSDK.node (see index.js for the search order).

const fs = require('fs');
const path = require('path');

const ADDON_FILE = 'KOVAElectronSDK.node';
const PACKAGE_ROOT = path.resolve(__dirname, '..');
const DIST_RELEASE = path.join('dist', 'node_modules', 'kova-electron-sdk', 'build', 'Release');
const BUILD_COMMAND = 'npm run build (or: bash scripts/setup.sh)';

// The candidate paths of the addon file, in search order, each with where it came from.
function addonCandidates(env = process.env) {
  const override = env.KOVA_ADDON_PATH;
  if (override) {
    const file = path.extname(override) === '.node' ? override : path.join(override, ADDON_FILE);
    return [{ file: path.resolve(file), from: 'KOVA_ADDON_PATH' }];
  }
  const buildDir = env.KOVA_BUILD_DIR ? path.resolve(env.KOVA_BUILD_DIR) : path.join(PACKAGE_ROOT, 'build');
  return [
    { file: path.join(PACKAGE_ROOT, 'build', 'Release', ADDON_FILE), from: 'installed package' },
    { file: path.join(buildDir, DIST_RELEASE, ADDON_FILE), from: 'build output' },
  ];
}

// The path of the addon file to load; throws one Error naming what is missing and how to build it.
function locateAddon(env = process.env) {
  const candidates = addonCandidates(env);
  const found = candidates.find((c) => fs.existsSync(c.file));
  if (found) return found.file;
  const looked = candidates.map((c) => `  ${c.file} (${c.from})`).join('\n');
  const error = new Error(
    env.KOVA_ADDON_PATH
      ? `${ADDON_FILE} not found at KOVA_ADDON_PATH=${env.KOVA_ADDON_PATH}:\n${looked}\n` +
          'Point KOVA_ADDON_PATH at the built addon file or its directory, or unset it to use the build output.'
      : `${ADDON_FILE} has not been built; looked for:\n${looked}\n` +
          `Build it with: ${BUILD_COMMAND} at ${PACKAGE_ROOT}`,
  );
  error.code = 'KOVA_ADDON_NOT_FOUND';
  throw error;
}

function loadAddon(env = process.env) {
  const file = locateAddon(env);
  try {
    return require(file);
  } catch (cause) {
    const error = new Error(
      `${ADDON_FILE} at ${file} exists but could not be loaded: ${cause.message}\n` +
        `Rebuild it for this Node.js (${process.version}) with: ${BUILD_COMMAND}`,
    );
    error.code = 'KOVA_ADDON_LOAD_FAILED';
    error.cause = cause;
    throw error;
  }
}

module.exports = { ADDON_FILE, addonCandidates, locateAddon, loadAddon };
