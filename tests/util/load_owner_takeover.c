/* load_owner_takeover.c -- a preloaded object that defines the library's
 * exported constructor name, as any unrelated code in the process might.
 * It only counts its calls: the library must never make one. */
int zelkor_takeover_calls;

void init_cpu_support_flag(void) { ++zelkor_takeover_calls; }
