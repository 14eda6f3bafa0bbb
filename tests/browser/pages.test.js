// The pages a visitor sees before any ad exists: the main page, the category
// index, the new-ad form and the password form, the links between them, the
// banners, and the files the server must not hand out.
import assert from 'node:assert/strict';
import { writeFileSync, existsSync } from 'node:fs';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { launchBrowser, openPage, screenshotter, startSite, visibleText } from './lib/site.js';
import { gotoMain } from './lib/visitor.js';

const CATEGORIES = ['Vehicles', 'Boats', 'Real Estate', 'Jobs', 'Electronics', 'Furniture', 'Pets', 'Miscellaneous'];
// Banner image -> where it links (site/qbban.cfg).
const BANNERS = {
  'banners/harbour.svg': 'qbcgi.exe?action=Show',
  'banners/place-ad.svg': 'qbcgi.exe?action=NewItem',
  'banners/browse.svg': 'qbcgi.exe?action=ShowAll',
};

describe('pages without ads', () => {
  let site;
  let browser;
  let page;
  const shot = screenshotter('pages');
  const script = () => `${site.base}qbcgi.exe`;

  before(async () => {
    site = await startSite();
    browser = await launchBrowser();
    page = await openPage(browser);
    page.setDefaultTimeout(10_000);
  });

  after(async () => {
    await browser?.close();
    await site?.stop();
  });

  async function assertNavigationBar() {
    const expected = [
      ['Main', `${script()}?action=Main`],
      ["Category's", `${script()}?action=Show`],
      ['Place Ad', `${script()}?action=NewItem`],
      ['Home', site.base],
    ];
    for (const [name, href] of expected) {
      const link = page.getByRole('link', { name, exact: true });
      assert.equal(await link.count(), 1, `one "${name}" link in the navigation bar`);
      assert.equal(await link.getAttribute('href'), href, `"${name}" link target`);
    }
  }

  it("the site's address leads to the main page", async () => {
    await page.goto(site.base);
    assert.equal(page.url(), site.main);
    assert.equal(await page.title(), 'Quaybill/32 - HTML - Main Page');
  });

  it('the main page offers the ways in and the edit form', async () => {
    await gotoMain(page, site);
    await shot(page, 'main');
    const text = await visibleText(page);
    assert.match(text, /Quaybill\/32 - HTML Welcome to Quaybill\/32 - HTML by the Quaybill project!/);
    assert.ok(text.includes('NOTE: Ads placed on this system will expire in 30 Days'), text);
    assert.ok(text.includes('You Must enter your Name and remember the Password'), text);
    for (const [name, action] of [['Show Ads', 'Show'], ['Show ALL Ads', 'ShowAll'], ['Place an Ad', 'NewItem']]) {
      assert.equal(await page.getByRole('link', { name, exact: true }).getAttribute('href'),
        `${script()}?Action=${action}`, `"${name}" link target`);
    }
    const form = page.locator('form');
    assert.equal(await form.count(), 1);
    assert.equal(await form.getAttribute('action'), `${script()}?Action=Getedit`);
    assert.equal((await form.getAttribute('method')).toUpperCase(), 'POST');
    assert.equal(await form.locator('input[name="Name"]').count(), 1);
    assert.equal(await form.locator('input[type="Submit"]').getAttribute('value'), 'Get Ads');
    await assertNavigationBar();
    assert.deepEqual(page.pageErrors, []);
  });

  it('a banner from the list shows, loaded, and links where the list says', async () => {
    // The banner is drawn afresh on every request; look at a few.
    const seen = new Set();
    for (let i = 0; i < 4; i++) {
      await gotoMain(page, site);
      const img = page.locator('a > img').first();
      const src = await img.getAttribute('src');
      assert.ok(src in BANNERS, `banner image ${src} is one of the list`);
      assert.equal(await img.locator('xpath=..').getAttribute('href'), BANNERS[src]);
      const width = await img.evaluate(async (el) => {
        if (!el.complete) await new Promise((r) => el.addEventListener('load', r, { once: true }));
        return el.naturalWidth;
      });
      assert.equal(width, 468, `${src} loads as a 468 pixel wide image`);
      seen.add(src);
    }
    assert.ok(seen.size >= 1);
  });

  it('the category index lists the eight categories in order', async () => {
    await gotoMain(page, site);
    await page.getByRole('link', { name: 'Show Ads', exact: true }).click();
    await page.waitForLoadState();
    await shot(page, 'category-index');
    assert.equal(page.url(), `${script()}?Action=Show`);
    assert.equal(await page.title(), "Quaybill/32-HTML - Catagory's");
    assert.equal(await page.locator('h1').innerText(), "Ad Category's");
    const links = page.locator('table a');
    assert.deepEqual(await links.allInnerTexts(), CATEGORIES);
    for (let n = 1; n <= 8; n++) {
      assert.equal(await links.nth(n - 1).getAttribute('href'), `${script()}?Action=List&Cat=${n}`);
    }
    // Two rows of four.
    assert.equal(await page.locator('table tr').count(), 2);
    const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    assert.equal(background, 'rgb(244, 241, 232)', 'BodyColor #F4F1E8 from qbcgi.cfg');
    await assertNavigationBar();
  });

  it('the new-ad form asks for every field and posts to ADD', async () => {
    await gotoMain(page, site);
    await page.getByRole('link', { name: 'Place Ad', exact: true }).click();
    await page.waitForLoadState();
    await shot(page, 'new-ad-form');
    assert.equal(page.url(), `${script()}?action=NewItem`);
    assert.equal(await page.title(), 'Quaybill/32-HTML - Enter New Add');
    assert.equal(await page.locator('h1').innerText(), 'Enter New Classified Ad');
    const text = await visibleText(page);
    assert.ok(text.includes('NOTE: Ads placed on this system will expire in 30 Days'), text);
    assert.ok(text.includes('(Password required for later access to edit your Ad)'), text);
    const form = page.locator('form');
    assert.equal(await form.getAttribute('action'), `${script()}?Action=ADD`);
    assert.equal((await form.getAttribute('method')).toLowerCase(), 'post');
    assert.deepEqual(await form.locator('select[name="Category"] option').allInnerTexts(), CATEGORIES);
    const maxLengths = { Item: '100', Name: '50', Email: '100', Phone: '12', Price: '20', Password: '8' };
    for (const [name, max] of Object.entries(maxLengths)) {
      assert.equal(await form.locator(`input[name="${name}"]`).getAttribute('maxlength'), max, `${name} maxlength`);
    }
    assert.equal(await form.locator('textarea[name="Desc"]').count(), 1);
    assert.equal(await form.locator('input[type="submit"]').getAttribute('value'), 'Place Ad');
    await assertNavigationBar();
  });

  it("the password form carries the ad's ID and posts to Edit", async () => {
    const response = await page.goto(`${script()}?Action=Getpw&ID=5`);
    assert.equal(response.status(), 200);
    await shot(page, 'password-form');
    assert.equal(await page.title(), 'Quaybill/32 - HTML - Get Password');
    assert.equal(await page.locator('h2').innerText(), 'Enter The Password you chose for this Item');
    const form = page.locator('form');
    assert.equal(await form.getAttribute('action'), `${script()}?Action=Edit`);
    assert.equal((await form.getAttribute('method')).toLowerCase(), 'post');
    assert.equal(await form.locator('input[type="hidden"][name="ID"]').getAttribute('value'), '5');
    assert.equal(await form.locator('input[name="pw"]').count(), 1);
    assert.equal(await form.locator('input[type="submit"]').getAttribute('value'), 'Get Item');
  });

  it('the navigation bar leads back to the main page and home', async () => {
    await page.goto(`${script()}?action=NewItem`);
    await page.getByRole('link', { name: "Category's", exact: true }).click();
    await page.waitForLoadState();
    assert.equal(await page.title(), "Quaybill/32-HTML - Catagory's");
    await page.getByRole('link', { name: 'Main', exact: true }).click();
    await page.waitForLoadState();
    assert.equal(await page.title(), 'Quaybill/32 - HTML - Main Page');
    await page.getByRole('link', { name: 'Home', exact: true }).click();
    await page.waitForLoadState();
    // HomeUrl is the site's address, which leads to the main page.
    assert.equal(page.url(), site.main);
    assert.equal(await page.title(), 'Quaybill/32 - HTML - Main Page');
  });

  it('the settings, the lists and the ad store cannot be downloaded', async () => {
    // The store appears with the first ad; make sure there is one to ask for.
    const store = path.join(site.dir, 'qb.db');
    if (!existsSync(store)) writeFileSync(store, '');
    for (const name of ['qbcgi.cfg', 'cat.lst', 'qbban.cfg', 'qb.db', 'lighttpd.conf']) {
      const response = await fetch(`${site.base}${name}`);
      assert.equal(response.status, 403, `${name} is refused`);
    }
    const banner = await fetch(`${site.base}banners/harbour.svg`);
    assert.equal(banner.status, 200);
    assert.equal(banner.headers.get('content-type'), 'image/svg+xml');
  });
});
