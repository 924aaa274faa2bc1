'use strict';
// Temporary installation layouts for scenarios that need the addon somewhere else: the addon file
// (self-contained) copied into <tmp>/a/b/c/d/e/, with or without an SDK beside it and the AI-effects
// library three levels up (<tmp>/a/b/SAIManagerElectrionSDK/native/linux/). Run the scenario in a
// child process (runIsolated) and remove the tree afterwards.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { paths } = require('./standin');

const saiDir = process.env.KOVA_SAI_DIR ||
    path.join(paths.distDir, 'node_modules', 'SAIManagerElectrionSDK', 'native', 'linux');
const saiLibrary = path.join(saiDir, 'libSAIManager.so');
const saiRelative = path.join('SAIManagerElectrionSDK', 'native', 'linux', 'libSAIManager.so');

// files: { 'name relative to the addon dir': 'source path' } copied beside the addon.
function makeLayout({ sai = false, files = {} } = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'kova-layout-'));
  const addonDir = path.join(root, 'a', 'b', 'c', 'd', 'e');
  fs.mkdirSync(addonDir, { recursive: true });
  const addon = path.join(addonDir, 'KOVAElectronSDK.node');
  fs.copyFileSync(paths.addon, addon);
  for (const [name, source] of Object.entries(files)) {
    const target = path.join(addonDir, name);
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.copyFileSync(source, target);
  }
  const saiParent = path.join(root, 'a', 'b');
  const saiPath = path.join(saiParent, saiRelative);
  if (sai) {
    fs.mkdirSync(path.dirname(saiPath), { recursive: true });
    fs.copyFileSync(saiLibrary, saiPath);
  }
  return {
    root,
    addonDir,
    addon,
    saiPath,
    saiParent,
    remove: () => fs.rmSync(root, { recursive: true, force: true }),
  };
}

module.exports = { makeLayout, saiLibrary, saiDir };
