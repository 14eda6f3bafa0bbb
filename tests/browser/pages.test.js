// What the web server and the browser add to the pages a visitor sees before
// any ad exists (their bytes are checked by the whole-request tests): the
// site's address, banners that load, links that lead where they say, and
// data files the server must not hand out.
import assert from 'node:assert/strict';
import { writeFileSync, existsSync } from 'node:fs';
import path from 'node:path';
import { describe, it } from 'node:test';
import { screenshotter, servedSiteInBrowser } from './lib/site.js';
import { gotoMain } from './lib/visitor.js';

// Banner image -> where it links (site/qbban.cfg).
const BANNERS = {
  'banners/harbour.svg': 'qbcgi.exe?action=Show',
  'banners/place-ad.svg': 'qbcgi.exe?action=NewItem',
  'banners/browse.svg': 'qbcgi.exe?action=ShowAll',
};

describe('pages without ads', () => {
  let site;
  let page;
  servedSiteInBrowser((s, p) => {
    site = s;
    page = p;
  });
  const shot = screenshotter('pages');

  async function follow(name, title) {
    await page.getByRole('link', { name, exact: true }).first().click();
    await page.waitForLoadState();
    assert.equal(await page.title(), title, `"${name}" leads to ${title}`);
  }

  it("the site's address leads to the main page, whose banner loads", async () => {
    await page.goto(site.base);
    assert.equal(page.url(), site.main);
    await shot(page, 'main');
    const img = page.locator('a > img').first();
    const src = await img.getAttribute('src');
    assert.ok(src in BANNERS, `banner image ${src} is one of the list`);
    assert.equal(await img.locator('xpath=..').getAttribute('href'), BANNERS[src]);
    const width = await img.evaluate(async (el) => {
      if (!el.complete) await new Promise((r) => el.addEventListener('load', r, { once: true }));
      return el.naturalWidth;
    });
    assert.equal(width, 468, `${src} loads`);
  });

  it('links lead from page to page and home again', async () => {
    await gotoMain(page, site);
    await follow('Show Ads', "Quaybill/32-HTML - Catagory's");
    await shot(page, 'category-index');
    const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    assert.equal(background, 'rgb(244, 241, 232)', 'BodyColor #F4F1E8 from qbcgi.cfg');
    await follow('Place Ad', 'Quaybill/32-HTML - Enter New Add');
    await shot(page, 'new-ad-form');
    await follow('Main', 'Quaybill/32 - HTML - Main Page');
    await follow('Show ALL Ads', 'Quaybill/32 - HTML');
    await follow('Home', 'Quaybill/32 - HTML - Main Page');
    assert.equal(page.url(), site.main);
    assert.deepEqual(page.pageErrors, []);
  });

  it('the settings, the lists and the ad store cannot be downloaded', async () => {
    const store = path.join(site.dir, 'qb.db');
    if (!existsSync(store)) writeFileSync(store, '');
    for (const name of ['qbcgi.cfg', 'cat.lst', 'qbban.cfg', 'qb.db', 'lighttpd.conf']) {
      const response = await fetch(`${site.base}${name}`);
      assert.equal(response.status, 403, `${name} is refused`);
    }
  });
});
