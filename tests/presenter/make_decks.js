// Writes the generated test decks into the folder given as the first argument. Every shape has a
// known position (inches), geometry and colour, so the tests know which pixel shows which colour.
const path = require('path');
const pptxgen = require('pptxgenjs');
const out = process.argv[2];

async function wide() {
  const p = new pptxgen();
  p.layout = 'LAYOUT_16x9';   // 10 x 5.625 in
  let s = p.addSlide();
  s.background = { color: '203040' };
  s.addShape(p.ShapeType.rect, { x: 0.5, y: 0.5, w: 3, h: 2, fill: { color: 'FF0000' } });
  s.addShape(p.ShapeType.ellipse, { x: 5, y: 0.5, w: 4, h: 2.5, fill: { color: '00C000' } });
  s.addShape(p.ShapeType.roundRect, { x: 0.5, y: 3.2, w: 3, h: 2, fill: { color: '0000FF' }, rectRadius: 0.1 });
  s.addText('Grüße – ünïcødé ✓ 日本語', { x: 4.5, y: 3.5, w: 5, h: 1, fontSize: 28, bold: true, color: 'FFFF00', align: 'center' });
  s = p.addSlide();
  s.background = { color: 'F0E0A0' };
  s.addShape(p.ShapeType.rect, { x: 2, y: 1, w: 6, h: 3, fill: { color: '800080' }, line: { color: '000000', width: 2 } });
  s.addShape(p.ShapeType.line, { x: 1, y: 5, w: 8, h: 0, line: { color: '00FFFF', width: 4 } });
  s = p.addSlide();
  s.hidden = true;
  s.background = { color: '00FFFF' };
  s.addText('hidden slide', { x: 1, y: 1, w: 8, h: 1, fontSize: 20 });
  await p.writeFile({ fileName: path.join(out, 'wide.pptx') });
}

async function classic() {
  const p = new pptxgen();
  p.layout = 'LAYOUT_4x3';    // 10 x 7.5 in
  const s = p.addSlide();
  s.background = { color: 'FFFFFF' };
  s.addShape(p.ShapeType.rect, { x: 1, y: 1, w: 4, h: 3, fill: { color: 'C00000' } });
  s.addTable([[{ text: 'A1' }, { text: 'B1' }], [{ text: 'A2' }, { text: 'B2' }]],
             { x: 5.5, y: 4.5, w: 4, colW: [2, 2], fontSize: 14, border: { pt: 1, color: '000000' } });
  await p.writeFile({ fileName: path.join(out, 'classic.pptx') });
}

wide().then(classic).catch(e => { console.error(e); process.exit(1); });
