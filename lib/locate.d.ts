/** Where the addon is looked for when no KOVA_ADDON_PATH is set, in search order. */
export interface AddonCandidate {
  file: string;
  from: 'KOVA_ADDON_PATH' | 'installed package' | 'build output';
}

export const ADDON_FILE: 'KOVAElectronSDK.node';
/** The paths tried, in order, under the given environment. */
export function addonCandidates(env?: Record<string, string | undefined>): AddonCandidate[];
/** The addon file to load; throws an Error with code "KOVA_ADDON_NOT_FOUND" naming the paths tried and the build command. */
export function locateAddon(env?: Record<string, string | undefined>): string;
/** Loads the addon; throws as locateAddon, or with code "KOVA_ADDON_LOAD_FAILED" when the file does not load. */
export function loadAddon(env?: Record<string, string | undefined>): typeof import('../types/index');
