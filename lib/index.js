'use strict';
// Loads the native addon KOVAElectronSDK.node and exports its 102 functions unchanged.
//
// Where the addon is looked for, first match wins:
//   1. KOVA_ADDON_PATH: the addon file itself, or the directory that holds it;
//   2. build/Release/ beside this package's lib/ (the layout of an installed package);
//   3. the build output of this repository: $KOVA_BUILD_DIR (default: build/ at the repository root)
//      followed by dist/node_modules/kova-electron-sdk/build/Release/.
// The SDK library (libkova_sdk.so) and the controller library are found by the addon itself, beside
// its own file, so the addon is loaded from where it lies and never copied.
// The search without loading is require('kova-electron-sdk/lib/locate').locateAddon().

module.exports = require('./locate').loadAddon();
