// A small script for the demo: something to debug that stays alive until it is stopped. Every
// second it logs a line (the console panel fills up) and calls a function with a loop, a good
// place for a first breakpoint.
'use strict';

// The first `count` primes, by trial division.
function primes(count) {
    const found = [];
    for (let candidate = 2; found.length < count; candidate += 1) {
        if (found.every((prime) => candidate % prime !== 0)) {
            found.push(candidate);
        }
    }
    return found;
}

let ticks = 0;
function tick() {
    ticks += 1;
    const list = primes(ticks);
    console.log(`demo target: tick ${ticks}, prime number ${ticks} is ${list[list.length - 1]}`);
}

setInterval(tick, 1000);
