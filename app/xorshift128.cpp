// Marsaglia's xorshift128.
#include "app/app.h"

void Xorshift128Seed(Xorshift128* generator, uint32_t seed) {
  generator->x = seed;
  generator->y = 362436069u;
  generator->z = 521288629u;
  generator->w = 88675123u;
}

uint32_t Xorshift128Next(Xorshift128* generator) {
  uint32_t t = generator->x ^ (generator->x << 11);
  generator->x = generator->y;
  generator->y = generator->z;
  generator->z = generator->w;
  generator->w = generator->w ^ (generator->w >> 19) ^ t ^ (t >> 8);
  return generator->w;
}
