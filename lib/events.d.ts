import type { ListenerEventName } from '../types/index';

/** The 39 listener event names, in the order the addon reads them. */
export const LISTENER_EVENTS: readonly ListenerEventName[];
