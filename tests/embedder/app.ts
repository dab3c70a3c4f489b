interface Point {
  x: number;
  y: number;
}

function add(a: Point, b: Point): Point {
  return { x: a.x + b.x, y: a.y + b.y };
}

let total: Point = { x: 0, y: 0 };
let round = 0;
function tick(): void {
  round += 1;
  console.log('before ' + round);
  total = add(total, { x: round, y: 1 });
  console.log('after ' + round + ' ' + total.x);
}
setInterval(tick, 200);
