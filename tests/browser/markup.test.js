// An ad whose fields hold markup and quotes: every page shows the characters
// as typed, no script of theirs runs, and an edit that changes nothing leaves
// them exactly as they were.
import assert from 'node:assert/strict';
import { describe } from 'node:test';
import { screenshotter, servedSiteInBrowser, visibleText } from './lib/site.js';
import {
  assertNotErrorPage, openCategory, openSellerAds, openShowAll, passwordLinks, placeAd, storySteps,
  unlockOnlyAd, updateForm,
} from './lib/visitor.js';

const AD = {
  category: 'Electronics',
  item: '<script>window.pwned=1</script><b>Bold</b> "radio"',
  name: 'Ann "Q" <b>Lee</b>',
  email: 'ann@example.org"><script>alert(1)</script>',
  phone: '<b>555</b>',
  price: '<b>75</b> "firm"',
  password: 'p"w<1>',
  // Under 65 characters: the description box wraps hard at 65 columns, so a
  // longer text would come back from the browser with a line break in it.
  desc: '<script>alert(2)</script><img src=x onerror="pwned=2"> & chips',
};
const SHOWN = [AD.item, AD.name, AD.price, AD.desc];

describe('an ad full of markup', () => {
  let site;
  let page;
  servedSiteInBrowser((s, p) => {
    site = s;
    page = p;
  });
  const shot = screenshotter('markup');
  const step = storySteps();

  // Nothing the ad holds became markup or ran.
  async function assertInert(where) {
    assert.equal(await page.evaluate(() => typeof window.pwned), 'undefined', `${where}: no script of the ad ran`);
    assert.deepEqual(page.dialogs, [], `${where}: no dialog opened`);
    const injected = await page.evaluate(() => ({
      images: document.querySelectorAll('img[src="x"]').length,
      scripts: [...document.scripts].filter((s) => /pwned|alert/.test(s.textContent)).length,
      bold: [...document.querySelectorAll('b')].filter((b) => ['Bold', 'Lee', '555', '75'].includes(b.textContent)).length,
    }));
    assert.deepEqual(injected, { images: 0, scripts: 0, bold: 0 }, `${where}: the ad's markup stayed text`);
  }

  function assertShownAsTyped(text, where) {
    for (const value of SHOWN) assert.ok(text.includes(value), `${where} shows ${JSON.stringify(value)} as typed`);
    for (const entity of ['&lt;', '&gt;', '&quot;', '&amp;', '&#39;']) {
      assert.ok(!text.includes(entity), `${where} shows no ${entity} (escaped twice)`);
    }
  }

  async function assertEditPageHoldsTheAd() {
    await assertNotErrorPage(page, 'the edit page');
    const form = updateForm(page);
    assert.equal(await form.count(), 1, 'one form that posts to Update');
    // The seller's name is not editable; the delete form's hidden copy of
    // the item is not the field to look at.
    for (const [field, value] of [['Item', AD.item], ['Email', AD.email], ['Phone', AD.phone], ['Price', AD.price]]) {
      const input = form.locator(`input[name="${field}" i]:not([type="hidden"])`);
      assert.equal(await input.inputValue(), value, `${field} on the edit page`);
    }
    assert.equal(await form.locator('textarea[name="Desc" i]').inputValue(), AD.desc, 'Desc on the edit page');
    // The password travels on in hidden fields, as the board compares it:
    // trimmed and upper-cased.
    const hidden = page.locator('input[type="hidden" i][name="pw" i]');
    assert.ok(await hidden.count() >= 1, 'the edit page carries the password on');
    for (const value of await hidden.evaluateAll((els) => els.map((e) => e.value))) {
      assert.equal(value, AD.password.trim().toUpperCase(), 'the hidden password');
    }
    await assertInert('the edit page');
  }

  step('the ad is placed', async () => {
    await placeAd(page, site, AD);
    await shot(page, 'placed');
    await assertInert('the page after placing');
  });

  step('its category shows it as typed', async () => {
    const text = await openCategory(page, site, AD.category);
    await shot(page, 'category');
    assertShownAsTyped(text, 'the category listing');
    await assertInert('the category listing');
  });

  step('"Show ALL Ads" shows it as typed', async () => {
    const text = await openShowAll(page, site);
    await shot(page, 'show-all');
    assertShownAsTyped(text, 'all ads');
    await assertInert('all ads');
  });

  step('the seller finds it by the name as typed', async () => {
    const text = await openSellerAds(page, site, AD.name);
    await shot(page, 'seller');
    assert.ok(text.includes(AD.item), 'the seller sees the ad');
    assert.equal(await passwordLinks(page).count(), 1);
    await assertInert("the seller's ads");
  });

  step('the edit page holds every field as typed', async () => {
    await unlockOnlyAd(page, site, AD.name, AD.password);
    await shot(page, 'edit');
    await assertEditPageHoldsTheAd();
  });

  step('an update that changes nothing leaves the ad as it was', async () => {
    const form = updateForm(page);
    const [response] = await Promise.all([
      page.waitForNavigation(),
      form.locator('input[type="submit" i]').first().click(),
    ]);
    assert.equal(response.status(), 200);
    await shot(page, 'updated');
    await assertNotErrorPage(page, 'the update');
    await assertInert('the page after the update');

    const text = await openCategory(page, site, AD.category);
    await shot(page, 'category-after-update');
    assertShownAsTyped(text, 'the category listing after the update');
    await assertInert('the category listing after the update');

    await unlockOnlyAd(page, site, AD.name, AD.password);
    await assertEditPageHoldsTheAd();
  });
});
