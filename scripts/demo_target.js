// A small script for the demo: something to debug that stays alive until it is stopped.
'use strict';

let ticks = 0;
function tick() {
    ticks += 1;
    const message = `demo target: tick ${ticks}`;
    return message;
}

setInterval(tick, 1000);
